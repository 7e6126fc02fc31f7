// console_fuzz.cpp - bytes as a telnet client types them (escape sequences, backspaces, line ends,
// anything else) into a fresh console session: the password prompt, the line editor, the history
// and the command dispatch. No socket: the session's output is taken from it after each byte.
#include <cstdint>
#include <cstring>
#include <string>

#include <ace/SOCK_Stream.h>

#include "console/Command_Line.h"
#include "console/Network_Handler.h"
#include "console/telnet_history.h"
#include "fuzz_support.h"

namespace {

// What a session may send once its greeting is out: the typed characters (printable ASCII),
// masks, line ends, the backspace of its rubout and the texts of its commands.
bool is_session_output(unsigned char c) { return (c >= 32 && c <= 126) || c == '\r' || c == '\n' || c == '\b'; }

void check_words(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    Command_Line line(text.c_str());
    fuzz::expect(line.argc >= 0 && line.argc <= TELNET_MAX_ARGS, "word count");
    fuzz::expect(line.argv[line.argc] == nullptr, "word list ends with null");
    for (int i = 0; i < line.argc; ++i) {
        const size_t len = std::strlen(line.argv[i]);
        fuzz::expect(len > 0, "no empty word");
        fuzz::expect(std::strpbrk(line.argv[i], " ") == nullptr, "no blank inside a word");
        const int at = line.offset_of(i);
        fuzz::expect(at >= 0 && at + len <= text.size() && text.compare(at, len, line.argv[i]) == 0,
                     "a word is the text at its offset");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // "svc dynamic ..." would have the service configurator load a shared object named by the
    // input; loading code is not what is under test here.
    if (text.find("dynamic") != std::string::npos) return 0;
    check_words(data, size);

    telnet_history_clear();
    ACE_SOCK_Stream unconnected;
    Network_Handler* session = new Network_Handler(unconnected);
    for (size_t i = 0; i < size; ++i) {
        const int result = session->on_byte(static_cast<char>(data[i]));
        const std::string out = session->take_output();
        for (unsigned char c : out) fuzz::expect(is_session_output(c), "session output is printable text");
        if (result == -1) break;  // "exit"
        fuzz::expect(result == 0, "a byte is handled with 0 or -1");
    }
    fuzz::expect(g_bMaxCmdNum <= TELNET_HISTORY_SLOTS, "history holds eight commands at most");
    for (int slot = 0; slot < TELNET_HISTORY_SLOTS; ++slot) {
        fuzz::expect(strnlen(g_abOldTelnetCmd[slot], TELNET_HISTORY_LEN) < TELNET_HISTORY_LEN,
                     "history entries stay terminated");
    }
    session->handle_close(ACE_INVALID_HANDLE, ACE_Event_Handler::ALL_EVENTS_MASK);
    return 0;
}
