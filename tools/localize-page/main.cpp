// Makes the application's own pages in each language at build time, from templates whose
// texts stand between "{{" and "}}": the same message catalogues as the program's other texts
// translate them, so translators meet every text in one place.
//
//   localize-page extract TEMPLATE...            the templates' texts as a catalogue template
//   localize-page fill LANGUAGE CATALOGUES DOMAIN TEMPLATE OUTPUT
//
// A text's message is its words with each run of white space made one space. "@LANGUAGE@"
// becomes the page's language and "@RESOURCES@" the way from the page to the shared
// resources ("../" for a page in a language's folder).
//
// The catalogue is read as a file, not through the C library's gettext: that chooses by the
// build machine's locales, and newer C libraries ignore LANGUAGE under C.UTF-8.

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::string_view kOpen = "{{";
constexpr std::string_view kClose = "}}";

std::string normalized(std::string_view text) {
    std::string out;
    bool space = false;
    for (char c : text) {
        if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
            space = !out.empty();
            continue;
        }
        if (space) out += ' ';
        space = false;
        out += c;
    }
    return out;
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Piece {
    std::string text;
    bool message;
};

// The template cut into its fixed parts and its messages; nothing when a "{{" is not closed.
std::optional<std::vector<Piece>> pieces(const std::string& page) {
    std::vector<Piece> out;
    std::size_t at = 0;
    while (true) {
        std::size_t open = page.find(kOpen, at);
        if (open == std::string::npos) break;
        std::size_t close = page.find(kClose, open + kOpen.size());
        if (close == std::string::npos) return std::nullopt;
        out.push_back({page.substr(at, open - at), false});
        out.push_back(
            {normalized(page.substr(open + kOpen.size(), close - open - kOpen.size())), true});
        at = close + kClose.size();
    }
    out.push_back({page.substr(at), false});
    return out;
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// A compiled catalogue (GNU .mo): a magic number, then the count of messages and the offsets
// of two tables of (length, offset) pairs, the originals' and the translations'.
std::optional<std::map<std::string, std::string>> readCatalogue(const std::string& path) {
    auto file = readFile(path);
    if (!file || file->size() < 20) return std::nullopt;
    const std::string& bytes = *file;
    auto word = [&](std::size_t at, bool swapped) -> std::optional<std::uint32_t> {
        if (at + 4 > bytes.size()) return std::nullopt;
        std::uint32_t value;
        std::memcpy(&value, bytes.data() + at, 4);
        return swapped ? __builtin_bswap32(value) : value;
    };
    bool swapped = *word(0, false) != 0x950412deU;
    if (*word(0, swapped) != 0x950412deU) return std::nullopt;
    auto count = word(8, swapped), originals = word(12, swapped), translations = word(16, swapped);
    if (!count || !originals || !translations) return std::nullopt;
    auto string = [&](std::uint32_t table, std::uint32_t index) -> std::optional<std::string> {
        auto length = word(table + 8ULL * index, swapped);
        auto offset = word(table + 8ULL * index + 4, swapped);
        if (!length || !offset || std::uint64_t(*offset) + *length > bytes.size())
            return std::nullopt;
        return bytes.substr(*offset, *length);
    };
    std::map<std::string, std::string> messages;
    for (std::uint32_t i = 0; i < *count; ++i) {
        auto original = string(*originals, i), translation = string(*translations, i);
        if (!original || !translation) return std::nullopt;
        messages[*original] = *translation;
    }
    return messages;
}

void replaceAll(std::string& text, std::string_view from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

int extract(const std::vector<std::string>& templates) {
    std::set<std::string> seen;
    std::cout << "# The application's own pages.\n"
                 "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n";
    for (const std::string& path : templates) {
        auto page = readFile(path);
        auto cut = page ? pieces(*page) : std::nullopt;
        if (!cut) {
            std::cerr << "localize-page: cannot read the texts of " << path << "\n";
            return 1;
        }
        std::string name = path.substr(path.rfind('/') + 1);
        for (const Piece& piece : *cut) {
            if (!piece.message || !seen.insert(piece.text).second) continue;
            std::cout << "\n#: " << name << "\nmsgid " << quoted(piece.text) << "\nmsgstr \"\"\n";
        }
    }
    return 0;
}

int fill(const std::string& language, const std::string& catalogues, const std::string& domain,
         const std::string& templatePath, const std::string& outputPath) {
    bool english = language == "en";
    std::map<std::string, std::string> messages;
    if (!english) {
        std::string path = catalogues + "/" + language + "/LC_MESSAGES/" + domain + ".mo";
        auto read = readCatalogue(path);
        if (!read) {
            std::cerr << "localize-page: no catalogue for " << language << " at " << path << "\n";
            return 1;
        }
        messages = std::move(*read);
    }
    auto page = readFile(templatePath);
    auto cut = page ? pieces(*page) : std::nullopt;
    if (!cut) {
        std::cerr << "localize-page: cannot read the texts of " << templatePath << "\n";
        return 1;
    }
    // As gettext does: a message without a translation stays in English.
    std::string out;
    for (const Piece& piece : *cut) {
        auto translated = piece.message ? messages.find(piece.text) : messages.end();
        out += translated != messages.end() && !translated->second.empty() ? translated->second
                                                                           : piece.text;
    }
    replaceAll(out, "@LANGUAGE@", language);
    replaceAll(out, "@RESOURCES@", english ? "" : "../");
    std::ofstream file(outputPath, std::ios::binary | std::ios::trunc);
    file << out;
    if (!file.flush()) {
        std::cerr << "localize-page: cannot write " << outputPath << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() >= 2 && arguments[0] == "extract")
        return extract({arguments.begin() + 1, arguments.end()});
    if (arguments.size() == 6 && arguments[0] == "fill")
        return fill(arguments[1], arguments[2], arguments[3], arguments[4], arguments[5]);
    std::cerr << "usage: localize-page extract TEMPLATE...\n"
                 "       localize-page fill LANGUAGE CATALOGUES DOMAIN TEMPLATE OUTPUT\n";
    return 2;
}
