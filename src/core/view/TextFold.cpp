#include "core/view/TextFold.h"

void AppendFolded(std::string_view text, std::string& out) {
    const size_t start = out.size();
    out.append(text);
    for (size_t i = start; i < out.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(out[i]);
        if (byte >= 'A' && byte <= 'Z') {
            out[i] = static_cast<char>(byte + 32);
        } else if (byte == 0xC3 && i + 1 < out.size()) {
            // U+00C0..U+00DE except U+00D7 (the multiplication sign).
            const unsigned char next = static_cast<unsigned char>(out[i + 1]);
            if (next >= 0x80 && next <= 0x9E && next != 0x97) out[i + 1] = static_cast<char>(next + 32);
            ++i;
        }
    }
}

std::string Folded(std::string_view text) {
    std::string out;
    AppendFolded(text, out);
    return out;
}
