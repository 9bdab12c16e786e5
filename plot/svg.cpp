#include "plot/svg.h"

#include <cstdio>

namespace {

// Dark red prints as a dark grey, the ticks as black, the load as a light grey:
// the marks stay apart on a black-and-white printer.
const char STYLE[] =
    "<style>\n"
    "text{font-family:sans-serif;fill:#222}\n"
    ".title{font-weight:bold}\n"
    ".row-label,.axis-label-left{text-anchor:end}\n"
    ".heading-number,.cell-number,.cell-number-break{text-anchor:end}\n"
    ".axis-label{text-anchor:middle;fill:#555}\n"
    ".cell-number-break{fill:#a00000;font-weight:bold}\n"
    ".axis,.median{stroke:#999;stroke-width:0.5}\n"
    ".median{stroke-dasharray:3 2}\n"
    ".tick{stroke:#000;stroke-width:1;stroke-opacity:0.45}\n"
    ".tick-dense{stroke:#000;stroke-width:1;stroke-opacity:0.7}\n"
    ".tick-densest{stroke:#000;stroke-width:1}\n"
    ".interval{stroke:#1f4e9c;stroke-width:1.5}\n"
    ".break{fill:#a00000;fill-opacity:0.55}\n"
    ".gap{fill:none;stroke:#a00000;stroke-width:1;stroke-dasharray:2 1}\n"
    ".gap-label{fill:#a00000;font-weight:bold;paint-order:stroke;stroke:#fff;stroke-width:3px}\n"
    ".load{fill:#bbb;stroke:#666;stroke-width:0.5}\n"
    ".capacity{stroke:#a00000;stroke-width:1;stroke-dasharray:4 2}\n"
    "</style>\n";

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    std::string result = text;
    if (result.size() > 2 && result.compare(result.size() - 2, 2, ".0") == 0)
        result.erase(result.size() - 2);
    return result == "-0" ? "0" : result;
}

// Bytes of a UTF-8 sequence that starts with lead, 0 when it starts none.
int sequence_length(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

std::string path_data(const Shape& shape) {
    std::string d;
    const bool closed = shape.kind == Shape::POLYGON;
    for (size_t i = 0; i < shape.points.size(); ++i) {
        const bool move = closed ? i == 0 : i % 2 == 0;
        d += (move ? "M" : "L") + number(shape.points[i].x) + " " + number(shape.points[i].y);
    }
    return closed ? d + "Z" : d;
}

std::string element(const Shape& shape) {
    const std::string role = "class=\"" + svg_escaped(shape.role) + "\"";
    switch (shape.kind) {
    case Shape::RECT:
        return "<rect " + role + " x=\"" + number(shape.x1) + "\" y=\"" + number(shape.y1) + "\" width=\"" +
               number(shape.x2) + "\" height=\"" + number(shape.y2) + "\"/>\n";
    case Shape::LINE:
        return "<line " + role + " x1=\"" + number(shape.x1) + "\" y1=\"" + number(shape.y1) + "\" x2=\"" +
               number(shape.x2) + "\" y2=\"" + number(shape.y2) + "\"/>\n";
    case Shape::TEXT:
        return "<text " + role + " x=\"" + number(shape.x1) + "\" y=\"" + number(shape.y1) +
               "\" font-size=\"" + number(shape.size) + "\">" + svg_escaped(shape.text) + "</text>\n";
    case Shape::SEGMENTS:
    case Shape::POLYGON:
        return "<path " + role + " d=\"" + path_data(shape) + "\"/>\n";
    }
    return "";
}

} // namespace

std::string svg_escaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        const int length = sequence_length(byte);
        bool valid = length > 0 && i + static_cast<size_t>(length) <= text.size();
        for (int k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + static_cast<size_t>(k)]) & 0xC0) == 0x80;
        if (!valid || byte < 0x20 || byte == 0x7f) {
            out += '?';
            ++i;
            continue;
        }
        switch (byte) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out.append(text, i, static_cast<size_t>(length));
        }
        i += static_cast<size_t>(length);
    }
    return out;
}

std::string svg_document(const Drawing& drawing) {
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"297mm\" height=\"210mm\" viewBox=\"0 0 " +
                      number(drawing.width) + " " + number(drawing.height) + "\">\n";
    svg += STYLE;
    svg += "<rect x=\"0\" y=\"0\" width=\"" + number(drawing.width) + "\" height=\"" + number(drawing.height) +
           "\" fill=\"#fff\"/>\n";
    for (const Shape& shape : drawing.shapes)
        svg += element(shape);
    return svg + "</svg>\n";
}
