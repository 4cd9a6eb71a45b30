#include "sync/TranslatableText.h"

#include <atomic>
#include <vector>

namespace zelto::statustext {

namespace {

std::atomic<Translator> installed{nullptr};

}  // namespace

void setTranslator(Translator translator) {
    installed.store(translator, std::memory_order_release);
}

std::string text(const char* source, std::initializer_list<std::string> args, int n) {
    const Translator translator = installed.load(std::memory_order_acquire);
    const std::string pattern = translator ? translator(source, n) : std::string(source);
    const std::vector<std::string> values(args);
    std::string out;
    out.reserve(pattern.size() + 32);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (pattern[i] == '%' && next >= '1' && next <= '9' &&
            static_cast<std::size_t>(next - '1') < values.size()) {
            out += values[static_cast<std::size_t>(next - '1')];
            ++i;
        } else if (pattern[i] == '%' && next == 'n' && n >= 0) {
            out += std::to_string(n);
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

}  // namespace zelto::statustext
