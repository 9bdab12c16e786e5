// upload: new application software through the device's bootloader, then the
// file's application data blocks through the running application. Each
// attempt is a sequence of small steps; a communication failure repeats the
// whole attempt after a reconnect.
#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <vector>

#include "base/clock.h"
#include "base/console.h"
#include "base/results.h"
#include "link/command_registry.h"
#include "link/discovery.h"
#include "link/frame.h"
#include "link/transport.h"
#include "upload/upload.h"

namespace {

constexpr uint8_t FRAME_RUN = 0x12;
constexpr uint8_t FRAME_LOAD_BEGIN = 0x13;
constexpr uint8_t FRAME_LOAD_BEGIN_ANSWER = 0x14;
constexpr uint8_t FRAME_SEGMENT = 0x15;
constexpr uint8_t FRAME_SEGMENT_ANSWER = 0x16;
constexpr uint8_t FRAME_LOAD_END = 0x17;
constexpr uint8_t FRAME_LOAD_END_ANSWER = 0x18;
constexpr uint8_t FRAME_DATA_BEGIN = 0x19;
constexpr uint8_t FRAME_DATA_BEGIN_ANSWER = 0x1A;
constexpr uint8_t FRAME_DATA_END = 0x1B;
constexpr uint8_t FRAME_DATA_END_ANSWER = 0x1C;

constexpr uint8_t KIND_IMAGE = 2;
constexpr uint8_t KIND_DATA_BLOCK = 3;

constexpr uint32_t ANSWER_TIMEOUT_MS = 1000;
constexpr uint32_t DATA_SEGMENT_TIMEOUT_MS = 2000;
constexpr uint32_t BOOTLOADER_START_MS = 200;
constexpr uint32_t APPLICATION_START_MS = 2000;

constexpr uint32_t IDENTITY_MIN_DATA = 20;
constexpr uint32_t APPLICATION_MIN_DATA = 12;
constexpr uint32_t HEADER_MIN_DATA = 8;
constexpr uint32_t APPLICATION_IMAGE_OFFSET = 12;
constexpr uint32_t DATA_BLOCK_OFFSET = 4;
constexpr uint32_t MASK_WITHOUT_RELEASE = 0x3FFF;

// The attempt's own result when the image file cannot be read or verified.
constexpr int RESULT_FILE_UNREADABLE = -2;

struct UploadSession {
    DeviceRecord& device;
    const UploadOptions& options;
    uint32_t transfer_baud;
    bool device_lost = false; // the latest reconnect failed
};

// A bootloader answer: the transaction's result (1 when the expected answer
// came with at least the cause), the cause, and what follows it.
struct Answer {
    int result = 0;
    uint16_t cause = 0;
    std::span<const uint8_t> rest;
};

// A request of up to one segment and its answer.
class Exchange {
  public:
    explicit Exchange(DeviceRecord& device) : device_(device) {}

    Answer transact(uint8_t type, std::span<const uint8_t> payload, uint8_t answer_type,
                    uint32_t timeout_ms, int raw) {
        put_request(type, payload);
        Answer answer;
        answer.result = frame_transact(device_, request_.data(), answer_type, response_.data(),
                                       static_cast<uint32_t>(response_.size()), timeout_ms, raw);
        if (answer.result != 1)
            return answer;
        const uint32_t length = static_cast<uint32_t>(response_[2] | response_[3] << 8);
        // An answer too short for its cause is a failed transaction, not a
        // cause read from the bytes of an earlier answer.
        if (length < 2) {
            answer.result = RESULT_TIMEOUT;
            return answer;
        }
        const uint8_t* payload_bytes = response_.data() + FRAME_HEADER_SIZE;
        answer.cause = static_cast<uint16_t>(payload_bytes[0] | payload_bytes[1] << 8);
        answer.rest = {payload_bytes + 2, length - 2};
        return answer;
    }

    // Sends without awaiting an answer: 0, or the transport's failure.
    int send(uint8_t type, std::span<const uint8_t> payload, int raw) {
        put_request(type, payload);
        return frame_transact(device_, request_.data(), 0, nullptr, 0, 0, raw);
    }

  private:
    void put_request(uint8_t type, std::span<const uint8_t> payload) {
        const size_t length = std::min(payload.size(), request_.size() - FRAME_HEADER_SIZE);
        request_[0] = type;
        request_[1] = 0;
        request_[2] = static_cast<uint8_t>(length);
        request_[3] = static_cast<uint8_t>(length >> 8);
        if (length > 0)
            std::memcpy(request_.data() + FRAME_HEADER_SIZE, payload.data(), length);
    }

    DeviceRecord& device_;
    std::array<uint8_t, FRAME_HEADER_SIZE + UPLOAD_SEGMENT_SIZE> request_{};
    std::array<uint8_t, FRAME_MAX_RECEIVED - 4> response_{};
};

void put_le32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

std::array<uint8_t, 4> le32_bytes(uint32_t value) {
    std::array<uint8_t, 4> bytes{};
    put_le32(bytes.data(), value);
    return bytes;
}

// Load begin and data begin: rate, address or block id, size, kind.
std::array<uint8_t, 13> transfer_request(uint32_t baud, uint32_t address, uint32_t size,
                                         uint8_t kind) {
    std::array<uint8_t, 13> payload{};
    put_le32(payload.data(), baud);
    put_le32(payload.data() + 4, address);
    put_le32(payload.data() + 8, size);
    payload[12] = kind;
    return payload;
}

// A failed transaction ends the attempt for a retry, unless the technician
// asked the program to end.
int communication_failure(int transaction_result) {
    return transaction_result == RESULT_QUIT || termination_requested() ? RESULT_QUIT
                                                                        : RESULT_TIMEOUT;
}

int reconnect(UploadSession& session) {
    const int result = reconnect_device(session.device);
    session.device_lost = result < 0;
    return result;
}

// Back to the link's rate after a failure at the transfer rate, so that the
// prompt does not go on talking to the device at the wrong speed.
void restore_link_rate(UploadSession& session) {
    SerialLink& link = session.device.link;
    if (link.port != INVALID_PORT && session.transfer_baud != link.baud_rate)
        link_set_baud(link, link.baud_rate);
}

// ---------------------------------------------------------------- the file

int check_product(const UploadSession& session, const std::vector<ImageRecord>& records) {
    const uint32_t product = ident_part_number(session.device);
    if (session.options.force || product == 0 || image_lists_product(records, product))
        return RESULT_OK;
    out_print(LEVEL_ERROR, "File is for another product\n");
    return RESULT_IMAGE_MISMATCH;
}

int check_software_records(const std::vector<ImageRecord>& records) {
    const ImageRecord* identity =
        find_image_record(records, IMAGE_RECORD_IDENTITY, IDENTITY_MIN_DATA);
    const ImageRecord* application =
        find_image_record(records, IMAGE_RECORD_APPLICATION, APPLICATION_MIN_DATA);
    const uint32_t prefix = identity ? part_prefix(record_u32(*identity, 0)) : 0;
    if (!application || (prefix != PREFIX_APPLICATION && prefix != PREFIX_APPLICATION_ALT)) {
        out_print(LEVEL_ERROR, "Input file error - consider updating tool\n");
        return RESULT_IMAGE_MISMATCH;
    }
    return RESULT_OK;
}

int check_version(const UploadSession& session, const std::vector<ImageRecord>& records) {
    const ImageRecord* header = find_image_record(records, IMAGE_RECORD_HEADER, HEADER_MIN_DATA);
    if (!header) {
        out_print(LEVEL_ERROR, "Internal error\n");
        return RESULT_IMAGE_MISMATCH;
    }
    const uint32_t minimum = ident_min_version(session.device);
    if ((record_u16(*header, 4) & MASK_WITHOUT_RELEASE) < (minimum & MASK_WITHOUT_RELEASE)) {
        out_print(LEVEL_ERROR, "Device requires minimum SW version v%u.%02u",
                  version_major(minimum), version_minor(minimum));
        return RESULT_IMAGE_MISMATCH;
    }
    return RESULT_OK;
}

int check_file(const UploadSession& session, const std::vector<ImageRecord>& records) {
    int result = check_product(session, records);
    if (result == RESULT_OK)
        result = check_software_records(records);
    if (result == RESULT_OK)
        result = check_version(session, records);
    return result;
}

// ---------------------------------------------------------------- the image

int start_bootloader(UploadSession& session, Exchange& exchange) {
    const uint32_t part = bootloader_part_number(session.device);
    if (part == 0) {
        out_print(LEVEL_DETAIL, "Could not lookup bootloader part number\n");
        out_print(LEVEL_DETAIL, "Upload failure (1)\n");
        return RESULT_TIMEOUT;
    }
    const int sent = exchange.send(FRAME_RUN, le32_bytes(part), /*raw=*/0);
    if (sent < 0) {
        out_print(LEVEL_DETAIL, "Upload failure (1)\n");
        return communication_failure(sent);
    }
    sleep_ms(BOOTLOADER_START_MS);
    return RESULT_OK;
}

int load_begin(UploadSession& session, Exchange& exchange, const ImageRecord& application) {
    const uint32_t address = record_u32(application, 0);
    const uint32_t size = record_u32(application, 8);
    out_print(LEVEL_DETAIL, "Load begin baud %u addr 0x%05x size %u\n", session.transfer_baud,
              address, size);
    const Answer answer = exchange.transact(
        FRAME_LOAD_BEGIN, transfer_request(session.transfer_baud, address, size, KIND_IMAGE),
        FRAME_LOAD_BEGIN_ANSWER, ANSWER_TIMEOUT_MS, /*raw=*/1);
    int failure = RESULT_OK;
    if (answer.result != 1) {
        out_print(LEVEL_DETAIL, "Load begin transaction error: %d\n", answer.result);
        failure = communication_failure(answer.result);
    } else if (answer.cause != 0) {
        out_print(LEVEL_DETAIL, "Load begin rsp cause: %d\n", answer.cause);
        failure = RESULT_TIMEOUT;
    } else if (!link_set_baud(session.device.link, session.transfer_baud)) {
        out_print(LEVEL_DETAIL, "Set baud failed %u\n", session.transfer_baud);
        failure = RESULT_TIMEOUT;
    }
    if (failure != RESULT_OK)
        out_print(LEVEL_DETAIL, "Upload failure (2)\n");
    return failure;
}

// The image (raw, at the transfer rate) or a data block (in sentences) in
// segments, each awaiting its answer.
struct SegmentStream {
    bool image;
    uint32_t timeout_ms;
    int raw;
};

int send_segments(Exchange& exchange, std::span<const uint8_t> bytes, const SegmentStream& stream) {
    const uint32_t total = static_cast<uint32_t>(bytes.size());
    for (uint32_t sent = 0; sent < total;) {
        const uint32_t length = std::min(UPLOAD_SEGMENT_SIZE, total - sent);
        const Answer answer =
            exchange.transact(FRAME_SEGMENT, bytes.subspan(sent, length), FRAME_SEGMENT_ANSWER,
                              stream.timeout_ms, stream.raw);
        if (answer.result != 1) {
            out_print(LEVEL_DETAIL,
                      stream.image ? "Load segment transaction error: %d\n"
                                   : "Appd segment transaction error: %d\n",
                      answer.result);
            return communication_failure(answer.result);
        }
        if (answer.cause != 0) {
            out_print(LEVEL_DETAIL,
                      stream.image ? "Load segment rsp cause: %d (%u/%u %u)\n"
                                   : "Appd segment rsp cause: %d (%u/%u %u)\n",
                      answer.cause, sent, total, length);
            return RESULT_TIMEOUT;
        }
        out_print(LEVEL_INFO, ".");
        sent += length;
    }
    out_print(LEVEL_INFO, "\n");
    return RESULT_OK;
}

int load_image(UploadSession& session, Exchange& exchange, const ImageRecord& application) {
    out_print(LEVEL_INFO, "Loading application\n");
    const std::span<const uint8_t> image =
        std::span<const uint8_t>(application.data).subspan(APPLICATION_IMAGE_OFFSET);
    const int result = send_segments(exchange, image, {true, ANSWER_TIMEOUT_MS, /*raw=*/1});
    if (result != RESULT_OK) {
        out_print(LEVEL_DETAIL, "Upload failure (2)\n");
        restore_link_rate(session);
        return result;
    }
    if (!link_set_baud(session.device.link, session.device.link.baud_rate)) {
        out_print(LEVEL_DETAIL, "Restore baud failed %u\n", session.transfer_baud);
        out_print(LEVEL_DETAIL, "Upload failure (2)\n");
        return RESULT_TIMEOUT;
    }
    return RESULT_OK;
}

int load_end(Exchange& exchange, const ImageRecord& application) {
    const Answer answer =
        exchange.transact(FRAME_LOAD_END, {}, FRAME_LOAD_END_ANSWER, ANSWER_TIMEOUT_MS, /*raw=*/1);
    int failure = RESULT_OK;
    if (answer.result != 1) {
        out_print(LEVEL_DETAIL, "Load end transaction error: %d\n", answer.result);
        failure = communication_failure(answer.result);
    } else if (answer.cause != 0) {
        out_print(LEVEL_DETAIL, "Load end rsp cause: %d\n", answer.cause);
        failure = RESULT_TIMEOUT;
    } else if (answer.rest.size() < 2) {
        // No CRC in the answer: nothing to compare the image with.
        out_print(LEVEL_DETAIL, "Load end transaction error: %d\n", RESULT_TIMEOUT);
        failure = RESULT_TIMEOUT;
    } else if (static_cast<uint16_t>(answer.rest[0] | answer.rest[1] << 8) !=
               record_u16(application, 6)) {
        out_print(LEVEL_ERROR, "Upload CRC failed\n");
        failure = RESULT_TIMEOUT;
    }
    if (failure != RESULT_OK)
        out_print(LEVEL_DETAIL, "Upload failure (2)\n");
    return failure;
}

int run_new_application(UploadSession& session, Exchange& exchange) {
    const int sent = exchange.send(FRAME_RUN, le32_bytes(0), /*raw=*/1);
    if (sent < 0) {
        out_print(LEVEL_DETAIL, "Upload failure (3)\n");
        return communication_failure(sent);
    }
    sleep_ms(APPLICATION_START_MS);
    if (termination_requested())
        return RESULT_QUIT;
    if (reconnect(session) < 0) {
        out_print(LEVEL_DETAIL, "Failed to connect to the device\n");
        return RESULT_TIMEOUT;
    }
    return RESULT_OK;
}

int check_new_identity(const UploadSession& session, const std::vector<ImageRecord>& records) {
    const ImageRecord* identity =
        find_image_record(records, IMAGE_RECORD_IDENTITY, IDENTITY_MIN_DATA);
    if (identity && device_runs_identity(session.device, *identity))
        return RESULT_OK;
    out_print(LEVEL_ERROR, "Upload failed for unknown reason\n");
    return RESULT_WRONG_SOFTWARE;
}

// ---------------------------------------------------------------- data blocks

int load_data_block(UploadSession& session, Exchange& exchange, const ImageRecord& block) {
    SerialLink& link = session.device.link;
    const std::span<const uint8_t> bytes =
        std::span<const uint8_t>(block.data).subspan(DATA_BLOCK_OFFSET);
    const uint16_t id = record_u16(block, 0);
    const uint32_t size = static_cast<uint32_t>(bytes.size());
    out_print(LEVEL_DETAIL, "Appd begin baud %u id 0x%04x size %u\n", link.baud_rate, id, size);
    const Answer begin = exchange.transact(
        FRAME_DATA_BEGIN, transfer_request(link.baud_rate, id, size, KIND_DATA_BLOCK),
        FRAME_DATA_BEGIN_ANSWER, ANSWER_TIMEOUT_MS, /*raw=*/0);
    if (begin.result != 1) {
        out_print(LEVEL_DETAIL, "Appd begin transaction error: %d\n", begin.result);
        return communication_failure(begin.result);
    }
    if (begin.cause != 0) {
        out_print(LEVEL_DETAIL, "Appd begin rsp cause: %d\n", begin.cause);
        return RESULT_TIMEOUT;
    }
    if (!link_set_baud(link, link.baud_rate)) {
        out_print(LEVEL_DETAIL, "Set baud failed %u\n", link.baud_rate);
        return RESULT_TIMEOUT;
    }
    const int sent = send_segments(exchange, bytes, {false, DATA_SEGMENT_TIMEOUT_MS, /*raw=*/0});
    if (sent != RESULT_OK)
        return sent;
    if (!link_set_baud(link, link.baud_rate)) {
        out_print(LEVEL_DETAIL, "Restore baud failed %u\n", link.baud_rate);
        return RESULT_TIMEOUT;
    }
    const Answer end =
        exchange.transact(FRAME_DATA_END, {}, FRAME_DATA_END_ANSWER, ANSWER_TIMEOUT_MS, /*raw=*/0);
    if (end.result != 1) {
        out_print(LEVEL_DETAIL, "Load end transaction error: %d\n", end.result);
        return communication_failure(end.result);
    }
    if (end.cause != 0) {
        out_print(LEVEL_DETAIL, "Load end rsp cause: %d\n", end.cause);
        return RESULT_TIMEOUT;
    }
    return RESULT_OK;
}

int load_data_blocks(UploadSession& session, Exchange& exchange,
                     const std::vector<ImageRecord>& records) {
    bool loaded = false;
    for (const ImageRecord& block : records) {
        if (block.type != IMAGE_RECORD_DATA_BLOCK)
            continue;
        if (!loaded)
            out_print(LEVEL_INFO, "Loading application data\n");
        const int result = load_data_block(session, exchange, block);
        if (result != RESULT_OK) {
            out_print(LEVEL_ERROR, "Failed to upload application data 0x%04x\n",
                      record_u16(block, 0));
            return result;
        }
        loaded = true;
    }
    if (!loaded)
        return RESULT_OK;
    // The application takes its new data when it starts again.
    const int sent = exchange.send(FRAME_RUN, le32_bytes(0), /*raw=*/0);
    if (sent < 0) {
        out_print(LEVEL_ERROR, "Upload failure\n");
        return communication_failure(sent);
    }
    sleep_ms(APPLICATION_START_MS);
    if (termination_requested())
        return RESULT_QUIT;
    reconnect(session); // the software is in place; a lost device is reported by the result
    return RESULT_OK;
}

// ---------------------------------------------------------------- the command

int upload_attempt(UploadSession& session) {
    std::vector<ImageRecord> records; // freed on every way out of the attempt
    if (!read_image_file(session.options.path, records))
        return RESULT_FILE_UNREADABLE;
    int result = check_file(session, records);
    if (result != RESULT_OK)
        return result;
    const ImageRecord* application =
        find_image_record(records, IMAGE_RECORD_APPLICATION, APPLICATION_MIN_DATA);
    if (!application) {
        out_print(LEVEL_ERROR, "Internal error\n");
        return RESULT_INTERNAL;
    }
    Exchange exchange(session.device);
    result = start_bootloader(session, exchange);
    if (result == RESULT_OK)
        result = load_begin(session, exchange, *application);
    if (result == RESULT_OK)
        result = load_image(session, exchange, *application);
    if (result == RESULT_OK)
        result = load_end(exchange, *application);
    if (result == RESULT_OK)
        result = run_new_application(session, exchange);
    if (result != RESULT_OK)
        return result;
    result = check_new_identity(session, records);
    if (result != RESULT_OK)
        return result;
    return load_data_blocks(session, exchange, records);
}

int upload_with_retries(UploadSession& session) {
    int result = RESULT_OK;
    for (int attempt = 1;; ++attempt) {
        result = upload_attempt(session);
        if (result != RESULT_TIMEOUT || attempt == UPLOAD_MAX_ATTEMPTS)
            break;
        if (reconnect(session) < 0) {
            result = RESULT_DEVICE_LOST;
            break;
        }
        if (termination_requested()) {
            result = RESULT_QUIT;
            break;
        }
        out_print(LEVEL_DETAIL, "Upload retry...\n");
    }
    return result;
}

int32_t upload_command(DeviceRecord& device, int32_t argc, char** argv) {
    UploadOptions options;
    if (parse_upload_words(argc, argv, options) != 0)
        return 1;
    UploadSession session{device, options,
                          options.baud != 0 ? options.baud : device.link.baud_rate};
    const int result = upload_with_retries(session);
    if (result == RESULT_OK) {
        const uint32_t version = ident_software(device, 0).version;
        out_print(LEVEL_INFO, "Device successfully updated to %u.%02u %s\n", version_major(version),
                  version_minor(version), release_type_name(version_release(version)));
    } else {
        out_print(LEVEL_ERROR, "Upload failed (%d)\n", result);
    }
    if (result == RESULT_QUIT)
        return RESULT_QUIT;
    // A device that did not come back leaves the link closed: the loop must
    // reconnect or end, not run the next command on it.
    return session.device_lost ? RESULT_DEVICE_LOST : RESULT_OK;
}

} // namespace

REGISTER_COMMAND("upload", upload_command);
