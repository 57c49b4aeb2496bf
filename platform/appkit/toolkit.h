#pragma once
// What the window classes share about the toolkit (GTK) under them.
#include <string>
#include <string_view>

namespace kv::appkit {

// Opens the toolkit on the default display, once for the process; false
// when no display can be opened. Windows and views need it open.
bool openToolkit();

// `text` as the toolkit can show it: UTF-8, with every byte that is not
// part of a character (a NUL among them) replaced by U+FFFD.
std::string displayableText(std::string_view text);

}  // namespace kv::appkit
