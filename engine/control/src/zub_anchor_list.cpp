#include "zub_anchor_list.h"

#include <arpa/inet.h>

#include <cctype>
#include <string>

#include "zub_anchor.h"
#include "zub_anchor_id.h"
#include "zub_context.h"
#include "zub_number_text.h"
#include "zub_print.h"

namespace {

// Longer than any hexadecimal id with its prefix or any dotted address; a longer token
// never matches and is read past, not stored.
constexpr size_t kMaxToken = 32;

struct Token {
    std::string text;
    bool overlong = false;
    int line = 0;  // line the token starts on (1 = first)
};

class TokenReader {
public:
    explicit TokenReader(FILE* file) : file_(file) {}

    // The next token; false at the end of the file.
    bool next(Token* out)
    {
        int ch = skip_space();
        if (ch == EOF) {
            return false;
        }
        out->text.clear();
        out->overlong = false;
        out->line = line_;
        while (ch != EOF && !std::isspace(ch)) {
            if (out->text.size() < kMaxToken) {
                out->text.push_back(static_cast<char>(ch));
            } else {
                out->overlong = true;
            }
            ch = std::fgetc(file_);
        }
        if (ch == '\n') {
            ++line_;
        }
        return true;
    }

    // Reads past the rest of `line` (nothing when reading is already past it).
    void skip_line(int line)
    {
        while (line_ == line) {
            const int ch = std::fgetc(file_);
            if (ch == EOF) {
                return;
            }
            if (ch == '\n') {
                ++line_;
            }
        }
    }

private:
    int skip_space()
    {
        int ch = std::fgetc(file_);
        while (ch != EOF && std::isspace(ch)) {
            if (ch == '\n') {
                ++line_;
            }
            ch = std::fgetc(file_);
        }
        return ch;
    }

    FILE* file_;
    int line_ = 1;
};

bool read_id(const Token& t, WORD64* id)
{
    return !t.overlong && zub_parse_hex64(t.text.c_str(), id);
}

bool read_address(const Token& t, in_addr* addr)
{
    return !t.overlong && t.text.size() <= 15 && inet_pton(AF_INET, t.text.c_str(), addr) == 1;
}

bool read_mode(const Token& t, WORD32* mode)
{
    return !t.overlong && zub_parse_dec_u32(t.text.c_str(), mode);
}

// What became of one entry.
enum class entry_fate { taken, skipped, malformed };

// Walks the entries of a two-field file; `take` gets the id and the second token and tells what
// became of the entry (a skipped entry was logged by `take`; a malformed one is logged here), or
// stops the walk by setting *stop.
template <class Take>
int walk_entries(FILE* file, const char* name, Take take)
{
    TokenReader reader(file);
    Token first;
    Token second;
    bool have_first = reader.next(&first);
    int taken = 0;
    while (have_first) {
        WORD64 id = 0;
        if (!read_id(first, &id)) {
            ZUB_PRINT(ZUB_PRINT_ERROR, "%s line %d: no anchor id, line skipped.", name, first.line);
            reader.skip_line(first.line);
            have_first = reader.next(&first);
            continue;
        }
        if (!reader.next(&second)) {
            ZUB_PRINT(ZUB_PRINT_ERROR, "%s line %d: entry without its second field, skipped.", name, first.line);
            return taken;
        }
        bool stop = false;
        const entry_fate fate = take(id, second, &stop);
        if (stop) {
            return taken + (fate == entry_fate::taken ? 1 : 0);
        }
        if (fate != entry_fate::malformed) {
            taken += fate == entry_fate::taken ? 1 : 0;
            have_first = reader.next(&first);
            continue;
        }
        ZUB_PRINT(ZUB_PRINT_ERROR, "%s line %d: malformed entry, skipped.", name, first.line);
        if (second.line != first.line) {
            first = second;  // the field on the later line may begin the next entry
            continue;
        }
        reader.skip_line(second.line);
        have_first = reader.next(&first);
    }
    return taken;
}

}  // namespace

int zub_read_anchor_list(FILE* file)
{
    context_t* c = zub_context();
    return walk_entries(file, "dns_zub.cfg", [c](WORD64 hw, const Token& second, bool* stop) {
        in_addr addr{};
        if (!read_address(second, &addr)) {
            return entry_fate::malformed;
        }
        WORD16 local = zub_search_anchor_id(hw);
        const bool known = local != ZUB_INVALID_ANCHOR_ID;
        if (!known && c->anchor_count >= ZUB_MAX_LISTED_ANCHORS) {
            ZUB_PRINT(ZUB_PRINT_ERROR,
                      "dns_zub.cfg line %d: anchor %lx would be anchor %u; at most %u anchors are used, it and "
                      "the rest of the file are skipped.",
                      second.line, hw, ZUB_MAX_LISTED_ANCHORS + 1, ZUB_MAX_LISTED_ANCHORS);
            *stop = true;
            return entry_fate::skipped;
        }
        if (!known) {
            local = zub_new_anchor_id(hw);
        }
        if (local == ZUB_INVALID_ANCHOR_ID || local >= ZUB_MAX_ANCHOR_NUM) {
            ZUB_PRINT(ZUB_PRINT_ERROR, "dns_zub.cfg: no local id left for anchor %lx, reading stopped.", hw);
            *stop = true;
            return entry_fate::skipped;
        }
        Anchor& a = c->anchors[local];
        a.init(hw, local);
        a.ip = addr;
        a.port = static_cast<WORD16>(c->anchorListenPort);
        if (!known) {
            c->anchor_count = static_cast<WORD16>(c->anchor_count + 1);
        }
        return entry_fate::taken;
    });
}

int zub_read_anchor_attributes(FILE* file)
{
    return walk_entries(file, "anchor_attribute.cfg", [](WORD64 hw, const Token& second, bool*) {
        WORD32 mode = 0;
        if (!read_mode(second, &mode)) {
            return entry_fate::malformed;
        }
        if (mode > ZUB_ANCHOR_WORKING_MODE_COUPLE) {
            ZUB_PRINT(ZUB_PRINT_ERROR,
                      "anchor_attribute.cfg line %d: mode %u of anchor %lx is not 0, 1 or 2; entry skipped, the "
                      "anchor keeps its mode.",
                      second.line, mode, hw);
            return entry_fate::skipped;
        }
        if (Anchor* a = Anchor::zub_get_anchor_by_hardware_id(hw)) {
            a->mode = static_cast<BYTE>(mode);
        }
        return entry_fate::taken;
    });
}

void zub_load_anchor_files(const char* dir)
{
    const std::string base = (dir == nullptr || dir[0] == '\0') ? std::string(".") : std::string(dir);
    context_t* c = zub_context();
    FILE* list = std::fopen((base + "/dns_zub.cfg").c_str(), "r");
    if (list == nullptr) {
        c->enable_mdns = true;
        return;
    }
    c->enable_mdns = false;
    zub_read_anchor_list(list);
    std::fclose(list);
    FILE* attributes = std::fopen((base + "/anchor_attribute.cfg").c_str(), "r");
    if (attributes == nullptr) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "read 'anchor_attribute.cfg' failed");
        return;
    }
    zub_read_anchor_attributes(attributes);
    std::fclose(attributes);
}
