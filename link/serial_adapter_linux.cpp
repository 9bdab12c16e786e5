// Names of USB serial adapters from sysfs, so that a technician can tell the
// ports apart by what is written on the adapter.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "link/serial.h"
#include "link/serial_ports_linux.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t MAX_ATTRIBUTE_LENGTH = 64;
// From the tty up through the interface to the USB device, with room to spare.
constexpr int MAX_LEVELS_UP = 8;

// The strings come from the adapter's firmware: anything that would act on
// the terminal shows as '?'.
std::string printable(std::string text) {
    if (text.size() > MAX_ATTRIBUTE_LENGTH)
        text.resize(MAX_ATTRIBUTE_LENGTH);
    for (char& ch : text) {
        const unsigned char byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte >= 0x7f)
            ch = '?';
    }
    return text;
}

std::string read_attribute(const fs::path& dir, const char* name) {
    std::ifstream file(dir / name);
    std::string line;
    std::getline(file, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
        line.pop_back();
    return printable(line);
}

// The USB device a tty belongs to: the first folder above it with a vendor id.
bool find_usb_device(fs::path dir, fs::path* usb_device) {
    std::error_code error;
    for (int level = 0; level < MAX_LEVELS_UP && dir.has_relative_path(); ++level) {
        if (fs::exists(dir / "idVendor", error)) {
            *usb_device = dir;
            return true;
        }
        dir = dir.parent_path();
    }
    return false;
}

std::string describe(const fs::path& usb_device) {
    std::string text = read_attribute(usb_device, "manufacturer");
    const std::string product = read_attribute(usb_device, "product");
    if (!product.empty())
        text += (text.empty() ? "" : " ") + product;
    if (text.empty())
        text = "USB " + read_attribute(usb_device, "idVendor") + ":" +
               read_attribute(usb_device, "idProduct");
    const std::string serial = read_attribute(usb_device, "serial");
    if (!serial.empty())
        text += ", serial " + serial;
    return text;
}

} // namespace

std::string usb_adapter_description(const std::string& class_dir, const std::string& tty_name) {
    std::error_code error;
    const fs::path device = fs::canonical(fs::path(class_dir) / tty_name / "device", error);
    fs::path usb_device;
    if (error || !find_usb_device(device, &usb_device))
        return "";
    return describe(usb_device);
}

std::string serial_port_description(const char* name) {
    std::error_code error;
    const fs::path path = std::strchr(name, '/') ? fs::path(name) : fs::path("/dev") / name;
    // /dev/serial/by-id/... is a link to the tty itself.
    const fs::path tty = fs::canonical(path, error);
    if (error)
        return "";
    return usb_adapter_description("/sys/class/tty", tty.filename().string());
}
