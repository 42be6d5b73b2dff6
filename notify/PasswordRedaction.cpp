#include "notify/PasswordRedaction.h"

#include <vector>

#include "notify/MailEncoding.h"

namespace vantrel {
namespace {

// A base64 form and the same without its padding: a server that decodes and
// re-encodes, or prints only the significant characters, drops the "=".
void AddBase64Forms(std::vector<std::string>& forms, std::string_view bytes) {
    std::string encoded = Base64Encode(bytes);
    while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
    forms.push_back(std::move(encoded));
}

// Overwrites the characters before the strings are released.
void Wipe(std::vector<std::string>& forms) noexcept {
    for (std::string& form : forms) {
        volatile char* p = form.data();
        for (std::size_t i = 0; i < form.size(); ++i) p[i] = '\0';
    }
}

}  // namespace

std::string RedactPassword(std::string_view text, std::string_view user, std::string_view password) {
    if (password.empty() || text.empty()) return std::string(text);
    std::vector<std::string> forms;
    forms.emplace_back(password);
    AddBase64Forms(forms, password);
    std::string plain;
    plain.reserve(user.size() + password.size() + 2);
    plain += '\0';
    plain.append(user.data(), user.size());
    plain += '\0';
    plain.append(password.data(), password.size());
    AddBase64Forms(forms, plain);
    forms.push_back(std::move(plain));

    // Marks first, replaces after: one form found inside another, or two
    // overlapping occurrences, are covered whole. The padding after a base64
    // form goes with it (forms[0] is the password itself).
    std::vector<bool> removed(text.size(), false);
    bool bAny = false;
    for (std::size_t f = 0; f < forms.size(); ++f) {
        const std::string& form = forms[f];
        if (form.empty()) continue;
        const bool bBase64 = f == 1 || f == 2;
        for (std::size_t at = text.find(form); at != std::string_view::npos; at = text.find(form, at + 1)) {
            std::size_t end = at + form.size();
            while (bBase64 && end < text.size() && end - at < form.size() + 2 && text[end] == '=') ++end;
            for (std::size_t i = at; i < end; ++i) removed[i] = true;
            bAny = true;
        }
    }
    Wipe(forms);
    if (!bAny) return std::string(text);

    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!removed[i]) {
            result += text[i];
        } else if (i == 0 || !removed[i - 1]) {
            result += kRedacted;
        }
    }
    return result;
}

}  // namespace vantrel
