#include "link/serial.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "base/console.h"
#include "base/console_win32.h"
#include "base/results.h"
#include "link/serial_win32.h"

struct SerialPort {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE io_done = nullptr; // completion event of the one transfer in progress
    // What the port had before we came: put back at close.
    DCB found{};
    COMMTIMEOUTS found_timeouts{};
};

namespace {

constexpr DWORD LIST_STEP = 4096;
constexpr DWORD LIST_LIMIT = 409600;
constexpr DWORD INPUT_QUEUE = 5000;
constexpr DWORD OUTPUT_QUEUE = 1000;
constexpr uint32_t DEFAULT_READ_TIMEOUT_MS = 100; // until a caller sets its own
constexpr int TRANSFER_FAILED = -1;
constexpr int TRANSFER_ENDED = -2; // the program was asked to end

// "\\.\" reaches every port, COM10 and above too; a full path is taken as given.
std::string device_path(const char* name) {
    const std::string given(name);
    return given.rfind("\\\\", 0) == 0 ? given : "\\\\.\\" + given;
}

// Raw 8N1 without flow control, DTR and RTS raised; the rest stays as found,
// except what would lose or change bytes of a binary frame.
void configure_line(DCB& dcb, uint32_t baud) {
    dcb.BaudRate = baud;
    dcb.fBinary = TRUE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
}

COMMTIMEOUTS timeouts_for(uint32_t milliseconds) {
    // The documented combination "return what is queued at once, else wait up
    // to the constant for the first byte". With a constant of 0 a read never waits.
    if (milliseconds == 0)
        return COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0};
    return COMMTIMEOUTS{MAXDWORD, MAXDWORD, milliseconds, 0, 0};
}

// Ends a failed open: the message with the system's reason, the port closed.
void fail_with(HANDLE handle, const char* message, int error) {
    print_system_error(message);
    const DWORD reason = GetLastError();
    CloseHandle(handle);
    SetLastError(reason);
    errno = error;
}

int fail_closed_port(const char* message) {
    SetLastError(ERROR_INVALID_HANDLE);
    print_system_error(message);
    errno = EBADF;
    return RESULT_PORT_ERROR;
}

// Waits for an overlapped transfer; a request to end cancels it.
int finish_transfer(SerialPort& port, OVERLAPPED& transfer, bool may_end) {
    const HANDLE waits[2] = {port.io_done, termination_event()};
    const DWORD count = (may_end && waits[1]) ? 2 : 1;
    if (WaitForMultipleObjects(count, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        CancelIo(port.handle);
        DWORD ignored = 0;
        GetOverlappedResult(port.handle, &transfer, &ignored, TRUE);
        return TRANSFER_ENDED;
    }
    DWORD done = 0;
    if (!GetOverlappedResult(port.handle, &transfer, &done, FALSE))
        return TRANSFER_FAILED;
    return static_cast<int>(done);
}

OVERLAPPED fresh_request(SerialPort& port) {
    OVERLAPPED request{};
    request.hEvent = port.io_done;
    ResetEvent(port.io_done);
    return request;
}

int pending_result(SerialPort& port, OVERLAPPED& request, bool may_end) {
    if (GetLastError() != ERROR_IO_PENDING)
        return TRANSFER_FAILED;
    return finish_transfer(port, request, may_end);
}

// The port is opened for overlapped use so that a read can end early when the
// program is asked to end; a write only waits until the driver took the bytes.
int read_once(SerialPort& port, uint8_t* bytes, DWORD count) {
    OVERLAPPED request = fresh_request(port);
    DWORD done = 0;
    if (ReadFile(port.handle, bytes, count, &done, &request))
        return static_cast<int>(done);
    return pending_result(port, request, /*may_end=*/true);
}

int write_once(SerialPort& port, const uint8_t* bytes, DWORD count) {
    OVERLAPPED request = fresh_request(port);
    DWORD done = 0;
    if (WriteFile(port.handle, bytes, count, &done, &request))
        return static_cast<int>(done);
    return pending_result(port, request, /*may_end=*/false);
}

// Bytes the driver holds now; also clears a line error, which would otherwise
// stop every read that follows.
DWORD queued_bytes(SerialPort& port) {
    COMSTAT status{};
    DWORD errors = 0;
    return ClearCommError(port.handle, &errors, &status) ? status.cbInQue : 0;
}

// Reads what is queued at once; with nothing queued, one byte, which the
// driver hands over as soon as it arrives or after the time-out. Asking for a
// whole buffer would make some drivers wait the full time-out to fill it.
int read_available(SerialPort& port, uint8_t* buffer, uint32_t size) {
    const DWORD queued = queued_bytes(port);
    const DWORD wanted = queued > 0 ? std::min<DWORD>(queued, size) : 1;
    const int got = read_once(port, buffer, wanted);
    if (got != 1 || queued > 0 || size == 1)
        return got;
    const DWORD more = std::min<DWORD>(queued_bytes(port), size - 1);
    if (more == 0)
        return got;
    const int rest = read_once(port, buffer + 1, more);
    return rest < 0 ? rest : got + rest;
}

} // namespace

std::vector<char> dos_device_names(DosDeviceQuery query) {
    for (DWORD size = LIST_STEP; size <= LIST_LIMIT; size += LIST_STEP) {
        std::vector<char> names(size);
        const DWORD length = query(nullptr, names.data(), size);
        if (length != 0) {
            names.resize(std::min(length, size));
            return names;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            break;
    }
    return {};
}

std::vector<std::string> com_ports_in(const std::vector<char>& names) {
    std::vector<std::string> ports;
    auto at = names.begin();
    while (at != names.end() && *at != '\0') {
        const auto end = std::find(at, names.end(), '\0');
        std::string name(at, end);
        if (name.rfind("COM", 0) == 0)
            ports.push_back(std::move(name));
        at = end == names.end() ? end : end + 1;
    }
    return ports;
}

int open_failure_errno(DWORD error) { return error == ERROR_ACCESS_DENIED ? EACCES : EBADF; }

std::vector<std::string> serial_list_ports() {
    return com_ports_in(dos_device_names(QueryDosDeviceA));
}

PortHandle serial_open(const char* name, uint32_t baud) {
    const std::string path = device_path(name);
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, /*share=*/0,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = open_failure_errno(GetLastError());
        return INVALID_PORT;
    }
    DCB found{};
    found.DCBlength = sizeof found;
    if (!GetCommState(handle, &found)) {
        fail_with(handle, "Error, failed to get serial port parameters", EBADF);
        return INVALID_PORT;
    }
    DCB wanted = found;
    configure_line(wanted, baud);
    if (baud == 0 || !SetCommState(handle, &wanted)) {
        if (baud == 0)
            SetLastError(ERROR_INVALID_PARAMETER);
        fail_with(handle, "Error, failed to set serial port parameters", EINVAL);
        return INVALID_PORT;
    }
    SetupComm(handle, INPUT_QUEUE, OUTPUT_QUEUE); // a request the driver may round
    auto* port = new SerialPort;
    port->handle = handle;
    port->found = found;
    GetCommTimeouts(handle, &port->found_timeouts);
    port->io_done = CreateEventA(nullptr, /*manual_reset=*/TRUE, FALSE, nullptr);
    if (!port->io_done) {
        serial_close(port);
        errno = EBADF;
        return INVALID_PORT;
    }
    serial_set_read_timeout(port, DEFAULT_READ_TIMEOUT_MS);
    return port;
}

// Windows reports no missing permission apart from a port held elsewhere.
// The device manager's names of USB adapters are not read here yet.
std::string serial_port_description(const char*) { return ""; }

std::string serial_permission_hint(const char* name) {
    return std::string("ask the administrator for access to ") + name;
}

int serial_read(PortHandle port, uint8_t* buffer, uint32_t size) {
    if (port == INVALID_PORT)
        return fail_closed_port("Error, reading from serial port");
    if (termination_requested())
        return RESULT_QUIT;
    if (size == 0)
        return 0;
    const int got = read_available(*port, buffer, size);
    if (got == TRANSFER_ENDED)
        return RESULT_QUIT;
    if (got >= 0)
        return got;
    print_system_error("Error, reading from serial port");
    return RESULT_PORT_ERROR;
}

int serial_write(PortHandle port, const uint8_t* bytes, uint32_t length) {
    if (length == 0)
        return 0;
    if (port == INVALID_PORT)
        return fail_closed_port("Error, writing to serial port");
    uint32_t done = 0;
    while (done < length) {
        const int written = write_once(*port, bytes + done, length - done);
        if (written <= 0) {
            print_system_error("Error, writing to serial port");
            return RESULT_PORT_ERROR;
        }
        done += static_cast<uint32_t>(written);
    }
    return static_cast<int>(length);
}

void serial_purge_rx(PortHandle port) {
    if (port != INVALID_PORT)
        PurgeComm(port->handle, PURGE_RXCLEAR);
}

int serial_set_read_timeout(PortHandle port, uint32_t milliseconds) {
    if (port == INVALID_PORT || milliseconds > 0x7FFFFFFF)
        return 0;
    COMMTIMEOUTS timeouts = timeouts_for(milliseconds);
    return SetCommTimeouts(port->handle, &timeouts) ? 1 : 0;
}

int serial_set_baud(PortHandle port, uint32_t baud) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (port == INVALID_PORT || baud == 0 || !GetCommState(port->handle, &dcb))
        return 0;
    FlushFileBuffers(port->handle); // bytes written at the old rate go out at it
    dcb.BaudRate = baud;
    return SetCommState(port->handle, &dcb) ? 1 : 0;
}

intptr_t serial_watch_handle(PortHandle) { return -1; }

void serial_close(PortHandle port) {
    if (port == INVALID_PORT)
        return;
    // After the last bytes have gone out at our rate.
    FlushFileBuffers(port->handle);
    SetCommState(port->handle, &port->found);
    SetCommTimeouts(port->handle, &port->found_timeouts);
    CloseHandle(port->handle);
    if (port->io_done)
        CloseHandle(port->io_done);
    delete port;
}

void print_system_error(const char* text) {
    const DWORD error = GetLastError();
    const int saved_errno = errno;
    char reason[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reason, sizeof reason, nullptr);
    // The system's text ends with its own line end; the message is one line.
    while (length > 0 && (reason[length - 1] == '\n' || reason[length - 1] == '\r' ||
                          reason[length - 1] == ' '))
        --length;
    std::fflush(stdout); // the message must not overtake earlier output in a pipe
    if (length == 0)
        std::fprintf(stderr, "%s: system error %lu\n", text, static_cast<unsigned long>(error));
    else
        std::fprintf(stderr, "%s: %.*s\n", text, static_cast<int>(length), reason);
    errno = saved_errno;
    SetLastError(error); // last: the C library's own calls may change it
}
