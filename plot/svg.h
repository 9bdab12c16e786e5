// Writes a drawing as one self-contained SVG: no scripts, no fonts or files
// from elsewhere, colours that stay apart when printed in grey.
#pragma once
#include <string>

#include "plot/drawing.h"

std::string svg_document(const Drawing& drawing);

// Text made safe for SVG: markup characters as entities, control characters
// and bytes that are no UTF-8 as '?'.
std::string svg_escaped(const std::string& text);
