// Frame messages of the identification, bootloader and application-data
// protocol, and the transfer that collects an image or a data block.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sim {

enum FrameType : uint8_t {
    FRAME_IDENT_REQUEST = 0x10,
    FRAME_IDENT_ANSWER = 0x11,
    FRAME_RUN = 0x12,
    FRAME_LOAD_BEGIN = 0x13,
    FRAME_LOAD_BEGIN_ANSWER = 0x14,
    FRAME_SEGMENT = 0x15,
    FRAME_SEGMENT_ANSWER = 0x16,
    FRAME_LOAD_END = 0x17,
    FRAME_LOAD_END_ANSWER = 0x18,
    FRAME_DATA_BEGIN = 0x19,
    FRAME_DATA_BEGIN_ANSWER = 0x1A,
    FRAME_DATA_END = 0x1B,
    FRAME_DATA_END_ANSWER = 0x1C,
};

// Causes at the start of every answer; 0 accepts.
enum Cause : uint16_t {
    CAUSE_OK = 0,
    CAUSE_BAD_REQUEST = 1, // payload too short
    CAUSE_BAD_BAUD = 2,    // transfer rate not supported
    CAUSE_BAD_SIZE = 3,    // size 0 or larger than the memory
    CAUSE_OVERFLOW = 4,    // more bytes than announced
    CAUSE_INCOMPLETE = 5,  // end before all bytes arrived
    CAUSE_NOT_STARTED = 6, // segment or end without a begin
};

constexpr uint32_t MAX_IMAGE_SIZE = 1024 * 1024;
constexpr uint32_t MAX_DATA_BLOCK_SIZE = 256 * 1024;

// Load begin and data begin share the layout: rate, address or block id, size, kind.
struct TransferRequest {
    uint32_t baud = 0;
    uint32_t address = 0; // load address, or the block id of a data block
    uint32_t size = 0;
    uint8_t kind = 0;
};
std::optional<TransferRequest> parse_transfer_request(std::span<const uint8_t> payload);
bool supported_transfer_baud(uint32_t baud);
std::optional<uint32_t> parse_run_request(std::span<const uint8_t> payload);

// Answer payload: the cause, then the CRC when given.
std::vector<uint8_t> answer_payload(uint16_t cause, std::optional<uint16_t> crc = std::nullopt);

// Collects the segments of one image or data block, in the order received.
class Transfer {
  public:
    // An image needs at least a byte; a data block may be empty.
    uint16_t begin(const TransferRequest& request, uint32_t min_size, uint32_t max_size);
    uint16_t append(std::span<const uint8_t> bytes);
    uint16_t end_cause() const; // CAUSE_OK when every announced byte arrived
    void clear();

    bool active() const { return active_; }
    bool complete() const { return active_ && bytes_.size() == request_.size; }
    uint32_t segments() const { return segments_; }
    uint16_t crc() const;
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    const TransferRequest& request() const { return request_; }

  private:
    bool active_ = false;
    TransferRequest request_;
    std::vector<uint8_t> bytes_;
    uint32_t segments_ = 0;
};

} // namespace sim
