// The device shell transport: one receive routine that sorts every incoming
// sentence (shell text, frames, navigation data) and the transactions on it.
// Single-threaded; the buffers below are shared by one transaction at a time.
#pragma once
#include <cstdint>

#include "link/device.h"

constexpr int RECEIVE_FRAME = 1;       // a frame with a correct CRC arrived in "0" sentences
constexpr int RECEIVE_SHELL_REPLY = 2; // the shell text holds the prompt "> "
constexpr int RECEIVE_SENTENCE = 3;    // an ordinary (non-PNCX) sentence arrived

constexpr uint32_t SHELL_REPLY_SIZE = 10240;
constexpr uint32_t SHELL_COMMAND_SIZE = 128;
constexpr uint32_t SHELL_SENTENCE_LIMIT = 68; // characters before '*' in shell sentences
constexpr uint32_t FRAME_SENTENCE_LIMIT = 77; // characters before '*' in frame sentences
constexpr uint32_t FRAME_DECODE_LIMIT = 40;   // frame bytes taken from one received sentence

// Shared by most callers: format the command line into the command buffer, pass
// the reply buffer to shell_transact; the reply is valid until the next transaction.
extern char shell_reply_buffer[SHELL_REPLY_SIZE];
extern char shell_command_buffer[SHELL_COMMAND_SIZE];

// Sets up the receive parsers; start-up calls it once before any traffic.
void transport_init();
// Forgets received bytes not yet parsed and any partial sentence or frame. Called
// whenever a port is opened, and by link_purge.
void link_rx_clear();
// Discards everything received on the link so far, in the port and in the parsers.
void link_purge(SerialLink& link);

// Switches the open port to another line speed after the bytes already written
// have gone out, and forgets what was half received at the old speed. The
// link's baud_rate is left to the caller. 1 on success, 0 on failure.
int link_set_baud(SerialLink& link, uint32_t baud);

// 4000 ms when the link runs at 4800 baud, otherwise 2000 ms.
uint32_t link_timeout_ms(const DeviceRecord& device);

// Waits up to timeout_ms for the event of mode while processing every other
// sentence. Returns mode, -11 on time-out, -5 when the port fails.
// With gathering set, a read that drained the port and left a sentence
// unfinished is followed by a pause of that many milliseconds before the
// next: for displays that a person reads, not for timing. 0 turns it off.
void link_set_gathering(uint32_t milliseconds);
int link_receive(SerialLink& link, int mode, uint32_t timeout_ms);

// Sends command_line (normally ending in CR) in PNCX SH sentences and, when reply
// is given, collects the shell's text up to (not including) the prompt "> ",
// NUL-terminated. 2 when the reply is complete, 0 when nothing was awaited, -5 or -11.
int shell_transact(DeviceRecord& device, const char* command_line, char* reply,
                   uint32_t reply_size, uint32_t timeout_ms);

// Exit status of the last shell command via "echo $?", or -14 when unreadable.
int shell_exit_status(DeviceRecord& device);

// Sends a frame given as header + payload (type, sequence, length, payload; the
// sequence is replaced by the counter) in sentences or raw, and waits for the
// answer, whose header + payload (at most 72 bytes) goes to response, which
// holds response_size bytes. 1 when its type is expected_type, else the negated
// type (-11 for type 0); 0 when response is nullptr (nothing awaited); -1, -5,
// -11 on failure, -11 also for an answer longer than response_size.
int frame_transact(DeviceRecord& device, const uint8_t* request, uint8_t expected_type,
                   uint8_t* response, uint32_t response_size, uint32_t timeout_ms, int raw);

// Waits for the next ordinary sentence; returns its length (CR LF included) and
// points *sentence at it (valid until the next receive), or -5 / -11.
int nmea_read_sentence(DeviceRecord& device, const char** sentence, uint32_t timeout_ms);
