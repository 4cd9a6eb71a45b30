// show and pack: preset files without any mixer.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>

#include "Commands.h"
#include "preset/Gzip.h"
#include "preset/QVXMLParser.h"
#include "sync/PresetFiles.h"

namespace zelto::cli {

namespace {

bool looksCompressed(const std::vector<std::uint8_t>& data) {
    // zlib header: deflate method, 32 KiB window or less, header checksum.
    return data.size() >= 2 && (data[0] & 0x0f) == 8 && (data[0] >> 4) <= 7 &&
           ((data[0] << 8) | data[1]) % 31 == 0;
}

std::optional<std::vector<std::uint8_t>> readInput(const std::string& file) {
    auto content = presetfiles::readFile(file);
    if (!content) {
        std::cerr << "zelto: no file at " << file << "; check the path\n";
        return std::nullopt;
    }
    if (!content->bytes) {
        std::cerr << "zelto: cannot read " << file << " (not a regular readable file, or larger than "
                  << presetfiles::kMaxPresetFileSize / (1024 * 1024) << " MiB)\n";
        return std::nullopt;
    }
    return std::move(content->bytes);
}

// Parses to make sure the text is a well-formed document before trusting it.
bool checkXml(const std::vector<std::uint8_t>& xml, const std::string& file) {
    try {
        QVXMLParser(xml).parse();
        return true;
    } catch (const std::exception& e) {
        std::cerr << "zelto: " << file << " is not a preset document: " << e.what() << "\n";
        return false;
    }
}

}  // namespace

int runShow(const std::string& file) {
    auto data = readInput(file);
    if (!data) return kFailure;
    std::vector<std::uint8_t> xml;
    if (looksCompressed(*data)) {
        try {
            xml = gzip::decompress(*data);
        } catch (const std::exception& e) {
            std::cerr << "zelto: " << file << " looks compressed but does not inflate (" << e.what()
                      << "); the file is damaged or not a preset\n";
            return kFailure;
        }
    } else {
        xml = std::move(*data);
    }
    if (!checkXml(xml, file)) return kFailure;
    std::cout.write(reinterpret_cast<const char*>(xml.data()), static_cast<std::streamsize>(xml.size()));
    if (!xml.empty() && xml.back() != '\n') std::cout << '\n';
    return std::cout.good() ? kSuccess : kFailure;
}

int runPack(const std::string& file, const std::string& out) {
    auto xml = readInput(file);
    if (!xml) return kFailure;
    if (looksCompressed(*xml)) {
        std::cerr << "zelto: " << file << " is already compressed; pack takes a preset's XML text\n";
        return kFailure;
    }
    if (!checkXml(*xml, file)) return kFailure;
    auto packed = gzip::compress(*xml);
    std::ofstream output(out, std::ios::binary | std::ios::trunc);
    output.write(reinterpret_cast<const char*>(packed.data()), static_cast<std::streamsize>(packed.size()));
    output.close();
    if (!output) {
        std::cerr << "zelto: cannot write " << out << "; check that its folder exists and is writable\n";
        return kFailure;
    }
    return kSuccess;
}

}  // namespace zelto::cli
