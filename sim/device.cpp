#include "sim/device.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/identity.h"
#include "sim/log.h"
#include "sim/nmea_gen.h"

namespace sim {
namespace {

constexpr uint32_t FRAME_BUFFER_SIZE = FRAME_OVERHEAD + 1024;
constexpr uint32_t FRAME_BYTES_PER_SENTENCE = 32; // the tool decodes at most 40
constexpr uint32_t SHELL_SENTENCE_LIMIT = 77;     // index bound: 82 with "*hh" CR LF
constexpr uint32_t SENTENCE_DECODE_LIMIT = 81;
constexpr uint64_t CONSOLE_IDLE_US = 120'000'000; // the plain console logs out
constexpr uint64_t TRANSFER_IDLE_US = 3'000'000;  // the bootloader gives up a fast transfer
constexpr uint64_t REPLY_QUEUE_LIMIT = 64 * 1024;
constexpr double CALIBRATION_TIME_S = 120.0;
constexpr int64_t FACTORY_CALIBRATION_TIME = 1764590400; // 2025-12-01 12:00 UTC, at installation
constexpr uint64_t RX_GAP_US = 100'000;                  // ends a half-received sentence or frame
constexpr uint64_t FRAME_SENTENCE_GAP_US = 1'000'000;    // ends a frame spread over sentences

uint64_t ms_to_us(uint64_t ms) {
    return ms * 1000;
}

std::string pncx_sentence(const char* protocol, const std::string& data) {
    std::string body = std::string("PNCX,") + protocol + "," + data;
    return finish_sentence(body);
}

// Body of a sentence between the start character and the '*' or CR LF.
std::string sentence_body(const char* sentence, uint32_t length) {
    uint32_t end = length;
    const void* star = std::memchr(sentence, '*', length);
    if (star)
        end = static_cast<uint32_t>(static_cast<const char*>(star) - sentence);
    else
        end = length >= 2 ? length - 2 : length;
    return end > 1 ? std::string(sentence + 1, end - 1) : std::string();
}

std::span<const uint8_t> frame_payload(const uint8_t* frame) {
    return {frame + 6, frame_payload_length(frame)};
}

} // namespace

SimSettings default_settings(const ModelProfile& profile) {
    SimSettings s;
    s.profile = profile;
    s.identity.product_part = profile.part_number;
    s.identity.serial = 12345;
    s.identity.min_version = make_version(1, 0, 0);
    s.identity.application = {profile.app_part, make_version(1, 5, 0), 17, 0x00010005, "rel",
                              0x5C3A9E41};
    s.identity.bootloader = {profile.boot_part, make_version(1, 0, 0), 3, 0x00010000, "boot",
                             0x1F00B7A2};
    return s;
}

Device::Device(const SimSettings& settings, Recorder& recorder, uint64_t now_us, double utc_now)
    : settings_(settings), recorder_(recorder), profile_(settings.profile),
      identity_(settings.identity), config_(factory_config(settings.profile)),
      faults_(settings.faults), motion_(settings.seed),
      tx_(settings.baud != 0 ? settings.baud : settings.profile.default_baud), start_us_(now_us),
      boot_us_(now_us), utc_at_start_(utc_now), active_gnss_(config_.gnss_mask),
      normal_baud_(tx_.baud()), nmea_on_(settings.nmea), rng_(settings.seed * 2654435761u + 1),
      raw_frame_buffer_(FRAME_BUFFER_SIZE), tunnel_frame_buffer_(FRAME_BUFFER_SIZE) {
    config_.nmea_baud = normal_baud_;
    nmea_parser_init(&sentence_parser_, sentence_buffer_.data(), NMEA_MAX_SENTENCE);
    frame_parser_init(&raw_frame_parser_, raw_frame_buffer_.data(), FRAME_BUFFER_SIZE);
    frame_parser_init(&tunnel_frame_parser_, tunnel_frame_buffer_.data(), FRAME_BUFFER_SIZE);
    calibration_.time = FACTORY_CALIBRATION_TIME;
    if (settings.rescue) {
        mode_ = DeviceMode::BOOTLOADER;
        running_ = {true, false};
    }
    restart_schedule(now_us);
}

// ---------------------------------------------------------------- receiving

void Device::receive(const uint8_t* bytes, size_t n, uint64_t now_us) {
    counters_.rx_bytes += n;
    if (mode_ == DeviceMode::REBOOTING || mode_ == DeviceMode::DOWN)
        return;
    if (now_us - last_rx_us_ > RX_GAP_US)
        rx_state_ = RxState::IDLE;
    last_rx_us_ = now_us;
    for (size_t i = 0; i < n; ++i)
        receive_byte(bytes[i], now_us);
    if (!stray_.empty()) {
        recorder_.stray(now_us, stray_);
        stray_.clear();
    }
}

void Device::receive_byte(uint8_t byte, uint64_t now_us) {
    if (console_active_)
        console_byte(byte, now_us);
    else if (rx_state_ == RxState::SENTENCE)
        receive_sentence_byte(byte, now_us);
    else if (rx_state_ == RxState::RAW_FRAME)
        receive_raw_frame_byte(byte, now_us);
    else
        receive_idle_byte(byte, now_us);
}

// Between sentences and frames: a start character, or a CR that wakes the
// plain console after a tunnelled "exit"; anything else is line noise.
void Device::receive_idle_byte(uint8_t byte, uint64_t now_us) {
    if (byte == '$') {
        nmea_parser_reset(&sentence_parser_);
        nmea_parser_feed(&sentence_parser_, &byte, 1);
        rx_state_ = RxState::SENTENCE;
    } else if (byte == FRAME_SYNC_1) {
        frame_parser_reset(&raw_frame_parser_);
        frame_parser_feed(&raw_frame_parser_, &byte, 1);
        rx_state_ = RxState::RAW_FRAME;
    } else if (byte == '\r' && console_armed_ && mode_ == DeviceMode::APPLICATION &&
               !faults_.no_console) {
        enter_console(now_us);
    } else {
        stray_ += static_cast<char>(byte);
    }
}

void Device::receive_sentence_byte(uint8_t byte, uint64_t now_us) {
    nmea_parser_feed(&sentence_parser_, &byte, 1);
    if (nmea_parser_complete(&sentence_parser_)) {
        rx_state_ = RxState::IDLE;
        on_sentence(now_us);
    } else if (nmea_parser_failed(&sentence_parser_)) {
        rx_state_ = RxState::IDLE;
        if (byte == FRAME_SYNC_1) // a raw frame right after a broken sentence
            receive_idle_byte(byte, now_us);
    }
}

void Device::receive_raw_frame_byte(uint8_t byte, uint64_t now_us) {
    frame_parser_feed(&raw_frame_parser_, &byte, 1);
    if (frame_parser_complete(&raw_frame_parser_)) {
        rx_state_ = RxState::IDLE;
        if (frame_check(raw_frame_buffer_.data()))
            on_frame(raw_frame_buffer_.data(), /*raw=*/true, now_us);
    } else if (frame_parser_failed(&raw_frame_parser_)) {
        rx_state_ = RxState::IDLE;
        if (byte == '$')
            receive_idle_byte(byte, now_us);
    }
}

void Device::on_sentence(uint64_t now_us) {
    const char* sentence = sentence_buffer_.data();
    const uint32_t length = sentence_parser_.count;
    ++counters_.rx_sentences;
    recorder_.sentence(now_us, "rx", std::string(sentence, length));
    if (!nmea_verify_checksum(sentence, length)) {
        ++counters_.checksum_errors;
        return;
    }
    const std::string body = sentence_body(sentence, length);
    if (body.rfind("PNCX,", 0) != 0)
        return; // other talkers' sentences are not for us
    const size_t comma = body.find(',', 5);
    if (comma == std::string::npos)
        return;
    const std::string protocol = body.substr(5, comma - 5);
    const std::string data = body.substr(comma + 1);
    if (protocol == "0")
        on_frame_sentence(data, now_us);
    else if (protocol == "SH")
        on_shell_sentence(data, now_us);
}

void Device::on_frame_sentence(const std::string& data, uint64_t now_us) {
    if (data.size() % 2 != 0)
        return;
    std::vector<uint8_t> bytes(data.size() / 2);
    const char* in = data.data();
    uint32_t in_remaining = static_cast<uint32_t>(data.size());
    uint8_t* out = bytes.data();
    uint32_t out_space = static_cast<uint32_t>(bytes.size());
    if (hex_decode(&in, &in_remaining, &out, &out_space) != 0)
        return;
    if (now_us - last_frame_sentence_us_ > FRAME_SENTENCE_GAP_US)
        frame_parser_reset(&tunnel_frame_parser_);
    last_frame_sentence_us_ = now_us;
    const uint8_t* next = bytes.data();
    uint32_t remaining = static_cast<uint32_t>(bytes.size());
    while (remaining > 0) {
        const uint32_t used = frame_parser_feed(&tunnel_frame_parser_, next, remaining);
        next += used;
        remaining -= used;
        if (frame_parser_complete(&tunnel_frame_parser_)) {
            if (frame_check(tunnel_frame_buffer_.data()))
                on_frame(tunnel_frame_buffer_.data(), /*raw=*/false, now_us);
            frame_parser_reset(&tunnel_frame_parser_);
        } else if (frame_parser_failed(&tunnel_frame_parser_)) {
            frame_parser_reset(&tunnel_frame_parser_);
            if (used == 0) { // the failing byte was not consumed: skip it
                ++next;
                --remaining;
            }
        }
    }
}

void Device::on_shell_sentence(const std::string& data, uint64_t now_us) {
    if (mode_ != DeviceMode::APPLICATION)
        return; // the bootloader has no shell
    uint8_t text[SENTENCE_DECODE_LIMIT];
    const char* src = data.data();
    uint32_t error_pos = 0;
    const uint32_t n =
        nmea_unescape(text, sizeof text, &src, static_cast<uint32_t>(data.size()), &error_pos);
    if (error_pos != 0 || n == 0)
        return;
    const std::string received(reinterpret_cast<const char*>(text), n);
    recorder_.shell(now_us, "rx", received);
    ShellContext context = shell_context(now_us);
    const std::string reply = tunnel_.feed(received, context);
    record_lines(tunnel_, now_us);
    if (!reply.empty())
        send_shell_text(reply, now_us);
    after_shell(context, now_us);
}

void Device::on_frame(const uint8_t* frame, bool raw, uint64_t now_us) {
    struct FrameRoute {
        uint8_t type;
        bool in_application;
        bool in_bootloader;
        void (Device::*handle)(const uint8_t*, bool, uint64_t);
    };
    static const FrameRoute routes[] = {
        {FRAME_IDENT_REQUEST, true, true, &Device::on_identify},
        {FRAME_RUN, true, true, &Device::on_run},
        {FRAME_LOAD_BEGIN, false, true, &Device::on_load_begin},
        {FRAME_SEGMENT, true, true, &Device::on_segment},
        {FRAME_LOAD_END, false, true, &Device::on_load_end},
        {FRAME_DATA_BEGIN, true, false, &Device::on_data_begin},
        {FRAME_DATA_END, true, false, &Device::on_data_end},
    };
    const uint8_t type = frame_type(frame);
    recorder_.frame(now_us, "rx", raw ? "raw" : "sentence", type, frame_sequence(frame),
                    frame_payload(frame));
    last_frame_us_ = now_us;
    log_message(2, "%.3f frame 0x%02x (%s), %u bytes", uptime(now_us), type,
                raw ? "raw" : "sentences", frame_payload_length(frame));
    for (const FrameRoute& route : routes) {
        const bool allowed =
            mode_ == DeviceMode::APPLICATION ? route.in_application : route.in_bootloader;
        if (route.type == type && allowed)
            (this->*route.handle)(frame, raw, now_us);
    }
}

void Device::on_identify(const uint8_t* frame, bool raw, uint64_t now_us) {
    if (!(raw ? settings_.ident_raw : settings_.ident_sentence))
        return;
    const auto payload = build_identification(identity_, running_);
    send_frame(FRAME_IDENT_ANSWER, frame_sequence(frame),
               std::vector<uint8_t>(payload.begin(), payload.end()), now_us);
}

void Device::on_run(const uint8_t* frame, bool, uint64_t now_us) {
    const std::optional<uint32_t> part_number = parse_run_request(frame_payload(frame));
    if (!part_number)
        return;
    if (mode_ == DeviceMode::APPLICATION && *part_number != 0 &&
        *part_number == identity_.bootloader.part_number) {
        enter_bootloader(now_us);
    } else if (mode_ == DeviceMode::APPLICATION &&
               (*part_number == 0 || *part_number == identity_.application.part_number)) {
        begin_reboot(now_us); // restart, e.g. to take new application data
    } else if (mode_ == DeviceMode::BOOTLOADER &&
               (*part_number == 0 || *part_number == identity_.application.part_number)) {
        if (running_.application_valid)
            begin_reboot(now_us);
        else
            log_event(now_us, "run refused: no valid application");
    }
}

void Device::on_load_begin(const uint8_t* frame, bool, uint64_t now_us) {
    const std::optional<TransferRequest> request = parse_transfer_request(frame_payload(frame));
    data_.clear();
    uint16_t cause = CAUSE_BAD_REQUEST;
    if (request)
        cause = image_.begin(*request, 1, MAX_IMAGE_SIZE);
    segment_attempts_ = 0;
    image_fault_used_ = false;
    const uint32_t rate = cause == CAUSE_OK && request->baud != tx_.baud() ? request->baud : 0;
    send_frame(FRAME_LOAD_BEGIN_ANSWER, frame_sequence(frame),
               with_answer_fault(FRAME_LOAD_BEGIN_ANSWER, answer_payload(cause), now_us), now_us,
               rate);
}

void Device::on_segment(const uint8_t* frame, bool, uint64_t now_us) {
    Transfer& transfer = mode_ == DeviceMode::BOOTLOADER ? image_ : data_;
    if (&transfer == &data_ && !data_.active())
        return; // the application takes segments only inside a data block
    if (&transfer == &image_) {
        ++segment_attempts_;
        if (faults_.silent_segment_loads > 0 && segment_attempts_ == faults_.silent_segment) {
            if (!image_fault_used_) {
                image_fault_used_ = true;
                --faults_.silent_segment_loads;
            }
            log_event(now_us, "segment " + std::to_string(segment_attempts_) + " not answered");
            return;
        }
    }
    const uint16_t cause = transfer.append(frame_payload(frame));
    // The last segment of a fast transfer is answered fast; then back to normal.
    const bool back_to_normal =
        cause == CAUSE_OK && transfer.complete() && tx_.baud() != normal_baud_;
    send_frame(FRAME_SEGMENT_ANSWER, frame_sequence(frame),
               with_answer_fault(FRAME_SEGMENT_ANSWER, answer_payload(cause), now_us), now_us,
               back_to_normal ? normal_baud_ : 0);
}

void Device::on_load_end(const uint8_t* frame, bool, uint64_t now_us) {
    const uint16_t cause = image_.end_cause();
    uint16_t crc = image_.crc();
    const bool corrupted = faults_.bad_crc_loads > 0;
    if (corrupted) {
        --faults_.bad_crc_loads;
        crc ^= 0xA5A5;
        log_event(now_us, "load end with a wrong CRC");
    }
    send_frame(FRAME_LOAD_END_ANSWER, frame_sequence(frame),
               with_answer_fault(FRAME_LOAD_END_ANSWER, answer_payload(cause, crc), now_us),
               now_us);
    if (cause == CAUSE_OK && !corrupted) {
        running_.application_valid = true;
        if (const std::optional<SoftwareIdentity> found = find_image_identity(image_.bytes()))
            identity_.application = from_identity(*found);
        log_event(now_us, "image loaded, " + std::to_string(image_.bytes().size()) + " bytes");
    }
    image_.clear();
}

void Device::on_data_begin(const uint8_t* frame, bool, uint64_t now_us) {
    const std::optional<TransferRequest> request = parse_transfer_request(frame_payload(frame));
    uint16_t cause = CAUSE_BAD_REQUEST;
    if (request)
        cause = data_.begin(*request, 0, MAX_DATA_BLOCK_SIZE);
    const uint32_t rate = cause == CAUSE_OK && request->baud != tx_.baud() ? request->baud : 0;
    send_frame(FRAME_DATA_BEGIN_ANSWER, frame_sequence(frame), answer_payload(cause), now_us, rate);
}

void Device::on_data_end(const uint8_t* frame, bool, uint64_t now_us) {
    const uint16_t cause = data_.end_cause();
    send_frame(FRAME_DATA_END_ANSWER, frame_sequence(frame), answer_payload(cause), now_us);
    if (cause == CAUSE_OK) {
        data_blocks_[data_.request().address] = static_cast<uint32_t>(data_.bytes().size());
        char text[64];
        std::snprintf(text, sizeof text, "data block 0x%04x stored, %zu bytes",
                      data_.request().address, data_.bytes().size());
        log_event(now_us, text);
    }
    data_.clear();
}

// ---------------------------------------------------------------- shell

ShellContext Device::shell_context(uint64_t now_us) {
    ShellContext c;
    c.profile = &profile_;
    c.identity = &identity_;
    c.config = &config_;
    c.calibration = &calibration_;
    c.counters = &counters_;
    c.protocol_version = settings_.protocol_version;
    c.uptime = uptime(now_us);
    c.utc = utc(now_us);
    c.level_roll = motion_.mount_roll();
    c.level_pitch = motion_.mount_pitch();
    c.line_baud = tx_.baud();
    c.active_gnss = active_gnss_;
    c.post_fail = faults_.post_fail;
    c.events_active = faults_.events_active;
    c.injected_failure = [this](const std::string& line) { return faults_.failure_for(line); };
    return c;
}

void Device::after_shell(ShellContext& context, uint64_t now_us) {
    if (tunnel_.logged_out_now())
        console_armed_ = true;
    if (tunnel_.state() == ShellSession::State::SHELL)
        console_armed_ = false;
    reschedule_changed_rows(now_us);
    if (context.reboot_requested)
        prepare_reboot();
}

void Device::record_lines(ShellSession& session, uint64_t now_us) {
    for (const std::string& line : session.executed_lines()) {
        recorder_.line(now_us, line);
        log_message(2, "%.3f line: %s", uptime(now_us), line.c_str());
    }
    session.clear_executed();
}

void Device::enter_console(uint64_t now_us) {
    console_active_ = true;
    console_.reset();
    console_input_us_ = now_us;
    console_line_.clear();
    counters_.dropped_sentences += tx_.drop_sentences();
    log_event(now_us, "plain console");
    send_reply("\r\nUser: ", now_us);
}

void Device::console_byte(uint8_t byte, uint64_t now_us) {
    console_input_us_ = now_us;
    if (byte == '\r') {
        recorder_.console(now_us, "rx", console_line_ + "\r");
        console_line_.clear();
    } else if (console_line_.size() < SHELL_MAX_LINE) {
        console_line_ += static_cast<char>(byte);
    }
    ShellContext context = shell_context(now_us);
    const std::string reply = console_.feed(std::string(1, static_cast<char>(byte)), context);
    record_lines(console_, now_us);
    if (!reply.empty())
        send_reply(reply, now_us);
    if (console_.logged_out_now())
        leave_console(now_us);
    reschedule_changed_rows(now_us);
    if (context.reboot_requested)
        prepare_reboot();
}

void Device::leave_console(uint64_t now_us) {
    console_active_ = false;
    console_armed_ = false;
    tunnel_.reset();
    log_event(now_us, "NMEA mode");
    restart_schedule(now_us);
}

// ---------------------------------------------------------------- sending

void Device::send_reply(std::string bytes, uint64_t now_us, uint32_t baud_after) {
    if (faults_.drop_replies > 0) {
        --faults_.drop_replies;
        log_event(now_us, "reply dropped");
        if (baud_after != 0)
            tx_.set_baud(baud_after); // the device believes it has answered
        return;
    }
    if (tx_.queued_bytes() > REPLY_QUEUE_LIMIT)
        return; // overrun: a real transmit buffer is full too
    TxItem item;
    item.bytes = std::move(bytes);
    item.ready_us = now_us + ms_to_us(faults_.reply_delay_ms);
    item.baud_after = baud_after;
    tx_.enqueue(std::move(item));
}

void Device::send_shell_text(const std::string& text, uint64_t now_us) {
    recorder_.shell(now_us, "tx", text);
    std::string sentences;
    const uint8_t* src = reinterpret_cast<const uint8_t*>(text.data());
    uint32_t remaining = static_cast<uint32_t>(text.size());
    while (remaining > 0) {
        char buffer[NMEA_MAX_SENTENCE];
        const uint32_t length = nmea_shell_sentence(buffer, SHELL_SENTENCE_LIMIT, &src, &remaining);
        sentences += with_faults(std::string(buffer, length));
        ++counters_.tx_sentences;
    }
    send_reply(std::move(sentences), now_us);
}

void Device::send_frame(uint8_t type, uint8_t sequence, const std::vector<uint8_t>& payload,
                        uint64_t now_us, uint32_t baud_after) {
    recorder_.frame(now_us, "tx", "sentence", type, sequence, payload);
    std::vector<uint8_t> frame(FRAME_OVERHEAD + payload.size());
    frame_compose(frame.data(), type, sequence, payload.data(),
                  static_cast<uint16_t>(payload.size()));
    std::string sentences;
    for (size_t at = 0; at < frame.size(); at += FRAME_BYTES_PER_SENTENCE) {
        std::string hex;
        for (size_t i = at; i < std::min(frame.size(), at + FRAME_BYTES_PER_SENTENCE); ++i) {
            hex += hex_digit(frame[i] >> 4, 1);
            hex += hex_digit(frame[i], 1);
        }
        sentences += with_faults(pncx_sentence("0", hex));
        ++counters_.tx_sentences;
    }
    send_reply(std::move(sentences), now_us, baud_after);
}

std::vector<uint8_t> Device::with_answer_fault(uint8_t type, std::vector<uint8_t> payload,
                                               uint64_t now_us) {
    uint32_t& left = faults_.short_answers[type];
    if (left == 0)
        return payload;
    --left;
    payload.resize(payload.size() >= 2 ? payload.size() - 2 : 0);
    log_event(now_us, "short answer");
    return payload;
}

std::string Device::with_faults(std::string sentence) {
    if (faults_.corrupt_rate > 0 && random_unit() < faults_.corrupt_rate) {
        const size_t star = sentence.rfind('*');
        if (star != std::string::npos && star + 2 < sentence.size())
            sentence[star + 2] = sentence[star + 2] == '0' ? '1' : '0';
    }
    if (faults_.noise_rate > 0 && random_unit() < faults_.noise_rate) {
        std::string noise;
        const uint32_t n = 1 + random_below(6);
        for (uint32_t i = 0; i < n; ++i)
            noise += static_cast<char>(0x80 + random_below(0x7F));
        sentence = noise + sentence;
    }
    return sentence;
}

bool Device::fits_gap(uint64_t rank, uint64_t end_us) const {
    const uint64_t guard = tx_.char_offset_us(1);
    for (size_t i = 0; i < scheduled_.size() && i < next_deadline_.size(); ++i) {
        const uint64_t interval = scheduled_[i].interval_ms;
        if (interval == 0 || interval * 1000 + i + 1 >= rank)
            continue;
        if (next_deadline_[i] < end_us + guard)
            return false;
    }
    return true;
}

TxChunk Device::take_output(uint64_t now_us) {
    const uint32_t before = tx_.baud();
    TxChunk chunk =
        tx_.take_due(now_us, [this](uint64_t rank, uint64_t end) { return fits_gap(rank, end); });
    counters_.tx_bytes += chunk.bytes.size();
    if (tx_.baud() != before)
        log_event(now_us, "line rate " + std::to_string(tx_.baud()));
    if (reboot_pending_ && !tx_.replies_pending()) {
        reboot_pending_ = false; // the last reply is out: down at once
        begin_reboot(now_us);
    }
    return chunk;
}

// ---------------------------------------------------------------- navigation output

bool Device::nmea_running() const {
    return mode_ == DeviceMode::APPLICATION && !console_active_ && nmea_on_ && !reboot_pending_;
}

void Device::restart_schedule(uint64_t now_us) {
    // Deadlines start at the next whole UTC second, so the one-second sentences
    // carry whole seconds like a receiver's.
    const double now_utc = utc(now_us);
    const uint64_t to_second = static_cast<uint64_t>((std::ceil(now_utc) - now_utc) * 1e6);
    epoch_us_ = now_us + to_second;
    scheduled_ = config_.sentences;
    next_deadline_.assign(scheduled_.size(), 0);
    for (size_t i = 0; i < scheduled_.size(); ++i)
        next_deadline_[i] = epoch_us_ + ms_to_us(scheduled_[i].offset_ms);
}

void Device::reschedule_changed_rows(uint64_t now_us) {
    if (config_.sentences.size() != scheduled_.size()) {
        restart_schedule(now_us);
        return;
    }
    for (size_t i = 0; i < scheduled_.size(); ++i) {
        const SentenceSetting& now_row = config_.sentences[i];
        SentenceSetting& old_row = scheduled_[i];
        if (now_row.interval_ms == old_row.interval_ms && now_row.offset_ms == old_row.offset_ms &&
            now_row.talker == old_row.talker)
            continue;
        old_row = now_row;
        counters_.dropped_sentences += tx_.drop_entry(now_row.id);
        const uint64_t interval = ms_to_us(now_row.interval_ms);
        uint64_t next = epoch_us_ + ms_to_us(now_row.offset_ms);
        if (interval != 0 && next < now_us)
            next += ((now_us - next) / interval + 1) * interval;
        next_deadline_[i] = next;
    }
}

void Device::generate_due_sentences(uint64_t now_us) {
    for (size_t i = 0; i < scheduled_.size(); ++i) {
        const uint64_t interval = ms_to_us(scheduled_[i].interval_ms);
        if (interval == 0 || next_deadline_[i] > now_us)
            continue;
        // After a stall only the latest missed deadline is served.
        uint64_t deadline = next_deadline_[i];
        deadline += (now_us - deadline) / interval * interval;
        generate_row(i, deadline);
        next_deadline_[i] = deadline + interval;
    }
}

void Device::generate_row(size_t index, uint64_t deadline_us) {
    const SentenceSetting& row = scheduled_[index];
    NmeaContext context;
    context.motion = motion_.at(uptime(deadline_us));
    context.utc = utc(deadline_us);
    context.config = &config_;
    context.gnss_mask = active_gnss_;
    if (row.formatter == "GSV" || row.formatter == "GSA" || row.formatter == "GGA")
        context.satellites = motion_.satellites(context.utc, active_gnss_);
    context.calibrated = calibration_.completed;
    counters_.dropped_sentences += tx_.drop_entry(row.id);
    for (const std::string& sentence : format_sentences(row, context)) {
        TxItem item;
        item.bytes = with_faults(sentence);
        item.ready_us = deadline_us;
        item.rank = row.interval_ms * 1000ULL + index + 1;
        item.entry_id = row.id;
        item.max_wait_us = ms_to_us(row.interval_ms) * 3 / 4;
        tx_.enqueue(std::move(item));
        ++counters_.tx_sentences;
    }
}

namespace {
constexpr uint32_t REPLAY_ENTRY = 0xFFFFFFFF;
constexpr uint64_t REPLAY_RANK = UINT64_MAX; // after replies and anything else
} // namespace

// At the line rate one line always waits behind the one on the wire, so they
// follow each other without a gap; at a fixed rate each has its deadline.
void Device::replay_due_sentences(uint64_t now_us) {
    const std::vector<std::string>& lines = settings_.replay;
    const uint64_t period_us = settings_.replay_rate ? 1'000'000 / settings_.replay_rate : 0;
    while (period_us ? replay_due_us_ <= now_us : !tx_.entry_waiting(REPLAY_ENTRY)) {
        TxItem item;
        item.bytes = with_faults(lines[replay_next_]);
        item.ready_us = period_us ? replay_due_us_ : now_us;
        item.rank = REPLAY_RANK;
        item.entry_id = REPLAY_ENTRY;
        tx_.enqueue(std::move(item));
        ++counters_.tx_sentences;
        replay_next_ = (replay_next_ + 1) % lines.size();
        if (!period_us)
            break;
        // After a stall the replay goes on from now, not in a burst.
        replay_due_us_ = std::max(replay_due_us_ + period_us, now_us - now_us % period_us);
    }
}

// ---------------------------------------------------------------- life cycle

void Device::advance(uint64_t now_us) {
    if (reboot_pending_ && !tx_.replies_pending()) {
        reboot_pending_ = false;
        begin_reboot(now_us);
    }
    if (mode_ == DeviceMode::REBOOTING && now_us >= reboot_done_us_) {
        if (faults_.stay_down) {
            mode_ = DeviceMode::DOWN;
            log_event(now_us, "stays down");
        } else {
            finish_reboot(now_us);
        }
    }
    if (console_active_ && now_us - console_input_us_ >= CONSOLE_IDLE_US)
        leave_console(now_us);
    fall_back_from_transfer_rate(now_us);
    update_calibration(now_us);
    if (nmea_running() && !settings_.replay.empty())
        replay_due_sentences(now_us);
    else if (nmea_running())
        generate_due_sentences(now_us);
}

// A device going down sends its last reply and no more sentences, so that
// the restart does not cut a sentence in half.
void Device::prepare_reboot() {
    reboot_pending_ = true;
    counters_.dropped_sentences += tx_.drop_sentences();
}

void Device::begin_reboot(uint64_t now_us) {
    mode_ = DeviceMode::REBOOTING;
    reboot_done_us_ = now_us + ms_to_us(settings_.reboot_time_ms);
    tx_.clear();
    rx_state_ = RxState::IDLE;
    frame_parser_reset(&tunnel_frame_parser_);
    image_.clear();
    data_.clear();
    console_active_ = false;
    log_event(now_us, "rebooting");
}

void Device::finish_reboot(uint64_t now_us) {
    boot_us_ = now_us;
    if (config_.factory_pending)
        config_ = factory_config(profile_);
    normal_baud_ = config_.nmea_baud;
    tx_.set_baud(normal_baud_);
    active_gnss_ = config_.gnss_mask;
    config_.sentences = config_.saved_sentences;
    tunnel_.reset();
    console_armed_ = false;
    if (!calibration_.completed)
        calibration_.reset_at = 0;
    mode_ = running_.application_valid ? DeviceMode::APPLICATION : DeviceMode::BOOTLOADER;
    running_.bootloader_running = mode_ == DeviceMode::BOOTLOADER;
    restart_schedule(now_us);
    log_event(now_us,
              mode_ == DeviceMode::APPLICATION ? "application running" : "bootloader running");
}

void Device::enter_bootloader(uint64_t now_us) {
    mode_ = DeviceMode::BOOTLOADER;
    running_.bootloader_running = true;
    counters_.dropped_sentences += tx_.drop_sentences();
    tunnel_.reset();
    console_armed_ = false;
    last_frame_us_ = now_us;
    log_event(now_us, "bootloader running");
}

void Device::update_calibration(uint64_t now_us) {
    Calibration& c = calibration_;
    const double up = uptime(now_us);
    if (c.completed || config_.calibration_mode == 7 || !(profile_.features & FEATURE_HEADING) ||
        up - c.reset_at < CALIBRATION_TIME_S)
        return;
    c.completed = true;
    c.time = static_cast<int64_t>(up);
    ++c.count;
    c.score = 78;
}

void Device::fall_back_from_transfer_rate(uint64_t now_us) {
    if (tx_.baud() == normal_baud_ || now_us - last_frame_us_ < TRANSFER_IDLE_US)
        return;
    tx_.set_baud(normal_baud_);
    image_.clear();
    data_.clear();
    log_event(now_us, "transfer abandoned, line rate " + std::to_string(normal_baud_));
}

uint64_t Device::next_wake_us(uint64_t now_us) const {
    uint64_t wake = tx_.next_wake_us(now_us);
    if (mode_ == DeviceMode::REBOOTING)
        wake = std::min(wake, reboot_done_us_);
    if (nmea_running() && !settings_.replay.empty() && settings_.replay_rate)
        wake = std::min(wake, replay_due_us_);
    else if (nmea_running() && settings_.replay.empty()) {
        for (size_t i = 0; i < scheduled_.size(); ++i) {
            if (scheduled_[i].interval_ms != 0)
                wake = std::min(wake, next_deadline_[i]);
        }
    }
    if (console_active_)
        wake = std::min(wake, console_input_us_ + CONSOLE_IDLE_US);
    if (tx_.baud() != normal_baud_)
        wake = std::min(wake, last_frame_us_ + TRANSFER_IDLE_US);
    if (reboot_pending_ || (!calibration_.completed && config_.calibration_mode != 7))
        wake = std::min(wake, now_us + 100'000); // coarse timers
    return std::max(wake, now_us);
}

// ---------------------------------------------------------------- control

bool Device::control_wake(const ControlCommand&, uint64_t now_us, std::string*) {
    if (mode_ == DeviceMode::DOWN)
        finish_reboot(now_us);
    return true;
}

bool Device::control_reboot(const ControlCommand&, uint64_t now_us, std::string*) {
    begin_reboot(now_us);
    return true;
}

bool Device::control_reboot_time(const ControlCommand& command, uint64_t, std::string* message) {
    if (parse_u32(command.args[0], &settings_.reboot_time_ms))
        return true;
    *message = "not a number: " + command.args[0];
    return false;
}

bool Device::control_nmea(const ControlCommand& command, uint64_t now_us, std::string* message) {
    if (!parse_on_off(command.args[0], &nmea_on_)) {
        *message = "expected on or off";
        return false;
    }
    if (nmea_on_)
        restart_schedule(now_us);
    else
        counters_.dropped_sentences += tx_.drop_sentences();
    return true;
}

bool Device::control_status(const ControlCommand&, uint64_t now_us, std::string* message) {
    *message = status_text(now_us);
    return true;
}

bool Device::control_still(const ControlCommand& command, uint64_t, std::string* message) {
    if (command.args.size() == 1 && command.args[0] == "off") {
        motion_.release();
        return true;
    }
    double values[3] = {};
    for (size_t i = 0; i < 3; ++i) {
        char* end = nullptr;
        values[i] = i < command.args.size() ? std::strtod(command.args[i].c_str(), &end) : 0;
        if (i < command.args.size() && (*end != '\0' || !std::isfinite(values[i]))) {
            *message = "not a number: " + command.args[i];
            return false;
        }
    }
    motion_.hold(values[0], values[1], values[2]);
    return true;
}

bool Device::control(const ControlCommand& command, uint64_t now_us, std::string* message) {
    struct ControlRoute {
        const char* name;
        bool (Device::*handle)(const ControlCommand&, uint64_t, std::string*);
    };
    static const ControlRoute routes[] = {
        {"wake", &Device::control_wake},
        {"reboot", &Device::control_reboot},
        {"reboot-time", &Device::control_reboot_time},
        {"nmea", &Device::control_nmea},
        {"status", &Device::control_status},
        {"still", &Device::control_still},
    };
    for (const ControlRoute& route : routes) {
        if (command.name == route.name)
            return (this->*route.handle)(command, now_us, message);
    }
    *message = "not a device control: " + command.name;
    return false;
}

std::string Device::status_text(uint64_t now_us) const {
    static const char* const mode_names[] = {"application", "bootloader", "rebooting", "down"};
    char text[512];
    std::snprintf(text, sizeof text,
                  "%s serial %08u, %s%s, line %u baud (configured %u), uptime %.1f s\n"
                  "software %s %s, tx %llu bytes, rx %llu bytes, dropped sentences %llu\n",
                  profile_.name, identity_.serial, mode_names[static_cast<int>(mode_)],
                  console_active_ ? " (plain console)" : "", tx_.baud(), config_.nmea_baud,
                  uptime(now_us), format_part_number(identity_.application.part_number).c_str(),
                  format_version(identity_.application.version).c_str(),
                  static_cast<unsigned long long>(counters_.tx_bytes),
                  static_cast<unsigned long long>(counters_.rx_bytes),
                  static_cast<unsigned long long>(counters_.dropped_sentences));
    return text;
}

uint32_t Device::random_below(uint32_t n) {
    rng_ = rng_ * 1664525u + 1013904223u;
    return (rng_ >> 8) % n;
}

double Device::random_unit() {
    rng_ = rng_ * 1664525u + 1013904223u;
    return static_cast<double>(rng_ >> 8) / 16777216.0;
}

void Device::log_event(uint64_t now_us, const std::string& what) {
    recorder_.event(now_us, what);
    log_message(1, "%.3f %s", uptime(now_us), what.c_str());
}

} // namespace sim
