// The please-wait line of setup.exe's dialog template: read and replaced.
// The template is a DLGTEMPLATE (the form resource compilers write for a
// DIALOG statement); its controls' texts are UTF-16.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// The text of the first static control (the predefined class 0x0082) of
// the template. false with *error when the template cannot be read or has none.
bool ReadDialogLine(const std::vector<uint8_t>& dialog, std::u16string* text, std::string* error);

// The template with that control's text replaced.
bool ReplaceDialogLine(const std::vector<uint8_t>& dialog, const std::u16string& text,
                       std::vector<uint8_t>* out, std::string* error);
