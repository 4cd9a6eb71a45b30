#include "device/IsoDate.h"

#include <cstdio>

namespace zelto {

namespace {

bool readDigits(std::string_view text, std::size_t pos, std::size_t count, int& out) {
    if (pos + count > text.size()) return false;
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    out = value;
    return true;
}

bool expect(std::string_view text, std::size_t pos, char c) {
    return pos < text.size() && text[pos] == c;
}

}  // namespace

std::string formatIsoDate(PresetDate date) {
    using namespace std::chrono;
    auto ms = floor<milliseconds>(date);
    auto day = floor<days>(ms);
    year_month_day ymd{day};
    hh_mm_ss hms{ms - day};
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                  static_cast<int>(hms.seconds().count()), static_cast<int>(hms.subseconds().count()));
    return buffer;
}

std::optional<PresetDate> parseIsoDate(std::string_view text) {
    using namespace std::chrono;
    int y, mo, d, h, mi, s, ms;
    if (!readDigits(text, 0, 4, y) || !expect(text, 4, '-') || !readDigits(text, 5, 2, mo) ||
        !expect(text, 7, '-') || !readDigits(text, 8, 2, d) || !expect(text, 10, 'T') ||
        !readDigits(text, 11, 2, h) || !expect(text, 13, ':') || !readDigits(text, 14, 2, mi) ||
        !expect(text, 16, ':') || !readDigits(text, 17, 2, s) || !expect(text, 19, '.') ||
        !readDigits(text, 20, 3, ms)) {
        return std::nullopt;
    }
    int offsetMinutes = 0;
    std::string_view zone = text.substr(23);
    if (zone == "Z") {
        offsetMinutes = 0;
    } else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':') {
        int oh, om;
        if (!readDigits(zone, 1, 2, oh) || !readDigits(zone, 4, 2, om) || oh > 23 || om > 59)
            return std::nullopt;
        offsetMinutes = (oh * 60 + om) * (zone[0] == '-' ? -1 : 1);
    } else {
        return std::nullopt;
    }
    year_month_day ymd{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
    if (!ymd.ok() || h > 23 || mi > 59 || s > 59) return std::nullopt;
    auto utc = sys_days{ymd} + hours{h} + minutes{mi} + seconds{s} + milliseconds{ms} - minutes{offsetMinutes};
    // The clock counts nanoseconds in 64 bits: about 292 years either side of 1970.
    constexpr auto limit = duration_cast<milliseconds>(PresetDate::duration::max()) - days{1};
    if (utc.time_since_epoch() > limit || utc.time_since_epoch() < -limit) return std::nullopt;
    return PresetDate{utc};
}

}  // namespace zelto
