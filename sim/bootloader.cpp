#include "sim/bootloader.h"

#include "link/crc16.h"

namespace sim {
namespace {

constexpr size_t TRANSFER_REQUEST_SIZE = 13;

uint32_t get_le32(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

const uint32_t transfer_bauds[] = {4800, 9600, 19200, 38400, 57600, 115200, 230400};

} // namespace

std::optional<TransferRequest> parse_transfer_request(std::span<const uint8_t> payload) {
    if (payload.size() < TRANSFER_REQUEST_SIZE)
        return std::nullopt;
    TransferRequest request;
    request.baud = get_le32(payload, 0);
    request.address = get_le32(payload, 4);
    request.size = get_le32(payload, 8);
    request.kind = payload[12];
    return request;
}

bool supported_transfer_baud(uint32_t baud) {
    for (uint32_t rate : transfer_bauds) {
        if (rate == baud)
            return true;
    }
    return false;
}

std::optional<uint32_t> parse_run_request(std::span<const uint8_t> payload) {
    if (payload.size() < 4)
        return std::nullopt;
    return get_le32(payload, 0);
}

std::vector<uint8_t> answer_payload(uint16_t cause, std::optional<uint16_t> crc) {
    std::vector<uint8_t> payload = {static_cast<uint8_t>(cause), static_cast<uint8_t>(cause >> 8)};
    if (crc) {
        payload.push_back(static_cast<uint8_t>(*crc));
        payload.push_back(static_cast<uint8_t>(*crc >> 8));
    }
    return payload;
}

uint16_t Transfer::begin(const TransferRequest& request, uint32_t min_size, uint32_t max_size) {
    clear();
    if (!supported_transfer_baud(request.baud))
        return CAUSE_BAD_BAUD;
    if (request.size < min_size || request.size > max_size)
        return CAUSE_BAD_SIZE;
    request_ = request;
    active_ = true;
    bytes_.reserve(request.size);
    return CAUSE_OK;
}

uint16_t Transfer::append(std::span<const uint8_t> bytes) {
    if (!active_)
        return CAUSE_NOT_STARTED;
    if (bytes_.size() + bytes.size() > request_.size)
        return CAUSE_OVERFLOW;
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    ++segments_;
    return CAUSE_OK;
}

uint16_t Transfer::end_cause() const {
    if (!active_)
        return CAUSE_NOT_STARTED;
    return complete() ? CAUSE_OK : CAUSE_INCOMPLETE;
}

void Transfer::clear() {
    active_ = false;
    request_ = TransferRequest{};
    bytes_.clear();
    segments_ = 0;
}

uint16_t Transfer::crc() const {
    return crc16(bytes_.data(), bytes_.size());
}

} // namespace sim
