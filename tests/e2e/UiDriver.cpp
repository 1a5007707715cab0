// ui-driver -f SCRIPT: drives a dialog program of another process in the same Wine session for
// the end-to-end scenarios, one command a line, its fields separated by '|' (\r, \n and \\ stand
// for their characters). A wait gives up after 60 s; the first failure ends the run with
// "ui-driver: FAIL: ..." and exit code 1:
//   window|TITLE              wait for the top-level window; it is the dialog
//   text|ID|TEXT              wait until control ID of the dialog reads TEXT
//   enabled|ID|0 or 1         control ID is disabled / enabled
//   combo|ID|COUNT|SEL[|LINE...]  combo box lines, selected line and the lines' texts
//   select|ID|I               select line I
//   click|ID                  press the enabled button, a hidden one too (WM_COMMAND)
//   box|CAPTION|TEXT|IDS      wait for the message box; its text, its buttons
//   answer|CAPTION|ID[|NAME]  press button ID of that box (of the file dialog: NAME entered)
//   gone                      wait until the dialog has gone
//   shot|NAME                 screenshot: %E2E_SHOT_DIR%\NAME.request, which the runner
//                             removes when it has taken it
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr DWORD WaitMs = 60000;
// One message to the program: a loaded machine can keep even an idle
// program from answering for seconds.
constexpr UINT SendMs = 20000;
// The dialog found by "window"; a failed step throws its message up to the command loop.
HWND dialog = nullptr;

std::string Shown(const std::string& text) {
    std::string out = "\"";
    for (char c : text) out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    return out + "\"";
}

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> words(1);
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '|') {
            words.emplace_back();
            continue;
        }
        if (c == '\\' && i + 1 < line.size())
            c = line[++i] == 'r' ? '\r' : line[i] == 'n' ? '\n' : line[i];
        words.back() += c;
    }
    return words;
}

// Polls until done() holds or the time is up.
template <typename Done>
bool Within(DWORD ms, Done done) {
    for (DWORD start = GetTickCount();; Sleep(100)) {
        if (done()) return true;
        if (GetTickCount() - start >= ms) return false;
    }
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, SendMs, &result))
        throw std::string("the program does not answer");
    return static_cast<LRESULT>(result);
}

// WM_GETTEXT is marshalled across processes; false while the program is busy.
bool ReadText(HWND window, std::string& text, UINT ms = SendMs) {
    char buffer[1024] = {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                             SMTO_NORMAL, ms, &length))
        return false;
    text.assign(buffer, length);
    return true;
}

// A visible top-level window with this title (and class, if given).
HWND Find(const std::string& title, const char* className, HWND except) {
    HWND found = nullptr;
    while ((found = FindWindowExA(nullptr, found, className, title.c_str())) != nullptr)
        if (found != except && IsWindowVisible(found)) return found;
    return nullptr;
}

HWND Dialog() {
    if (!dialog || !IsWindow(dialog)) throw std::string("no window");
    return dialog;
}

HWND Control(const std::string& id) {
    HWND control = GetDlgItem(Dialog(), std::atoi(id.c_str()));
    if (!control) throw "the window has no control " + id;
    return control;
}

HWND Box(const std::string& caption) {
    HWND box = nullptr;
    if (!Within(WaitMs, [&] { return (box = Find(caption, "#32770", dialog)); }))
        throw "no dialog box " + Shown(caption);
    return box;
}

void PressButton(HWND window, int id) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

void Gone(HWND window, const std::string& what) {
    if (!Within(WaitMs, [&] { return !IsWindow(window) || !IsWindowVisible(window); }))
        throw "the " + what + " is still there";
}

void Run(const std::vector<std::string>& w) {
    const std::string& name = w[0];
    auto arg = [&](size_t i) -> const std::string& {
        if (i >= w.size()) throw std::string("too few words");
        return w[i];
    };
    auto number = [&](size_t i) { return std::atoi(arg(i).c_str()); };
    if (name == "window") {
        if (!Within(WaitMs, [&] { return (dialog = Find(arg(1), nullptr, nullptr)); }))
            throw "no window " + Shown(arg(1));
    } else if (name == "text") {
        std::string have = "nothing (program busy)", read;
        if (!Within(WaitMs, [&] {
                if (!ReadText(Control(arg(1)), read, 500)) return false;
                have = Shown(read);
                return read == arg(2);
            }))
            throw "control " + arg(1) + " reads " + have + ", expected " + Shown(arg(2));
    } else if (name == "enabled" || name == "click") {
        bool enabled = IsWindowEnabled(Control(arg(1))) != FALSE;
        if (name == "click" && enabled) PressButton(Dialog(), number(1));
        if (name == "click" ? !enabled : enabled != (number(2) != 0))
            throw "control " + arg(1) + (enabled ? " is enabled" : " is disabled");
    } else if (name == "combo") {
        HWND box = Control(arg(1));
        LRESULT count = Send(box, CB_GETCOUNT, 0, 0), selected = Send(box, CB_GETCURSEL, 0, 0);
        if (count != number(2) || selected != number(3))
            throw "combo box " + arg(1) + ": " + std::to_string(count) + " lines, line " +
                std::to_string(selected) + " selected";
        for (size_t i = 4; i < w.size(); ++i) {
            // The wide form: the ANSI one hands another process's text over unconverted.
            wchar_t line[256] = {};
            char have[256] = {};
            if (Send(box, CB_GETLBTEXTLEN, i - 4, 0) < 256 &&
                Send(box, CB_GETLBTEXT, i - 4, reinterpret_cast<LPARAM>(line)) != CB_ERR)
                WideCharToMultiByte(CP_ACP, 0, line, -1, have, sizeof have, nullptr, nullptr);
            if (have != w[i])
                throw "combo line " + std::to_string(i - 4) + " reads " + Shown(have) +
                    ", expected " + Shown(w[i]);
        }
    } else if (name == "select") {
        if (Send(Control(arg(1)), CB_SETCURSEL, number(2), 0) != number(2))
            throw "combo box " + arg(1) + " cannot select line " + arg(2);
    } else if (name == "box") {
        HWND box = Box(arg(1));
        std::string have;
        // A message box shows its text in the static control 0xFFFF.
        if (!ReadText(GetDlgItem(box, 0xFFFF), have) || have != arg(2))
            throw "message box " + Shown(arg(1)) + " says " + Shown(have);
        std::string buttons;
        for (int id = IDOK; id <= IDCONTINUE; ++id)
            if (IsWindowVisible(GetDlgItem(box, id)))
                buttons += (buttons.empty() ? "" : ",") + std::to_string(id);
        if (buttons != arg(3)) throw "message box buttons are " + buttons;
    } else if (name == "answer") {
        HWND box = Box(arg(1));
        // 1148: the file name field of the file dialog.
        if (w.size() > 3)
            Send(GetDlgItem(box, 1148), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(arg(3).c_str()));
        PressButton(box, number(2));
        Gone(box, "dialog box " + Shown(arg(1)));
    } else if (name == "gone") {
        Gone(Dialog(), "window");
    } else if (name == "shot") {
        std::string path = std::string(std::getenv("E2E_SHOT_DIR")) + "\\" + arg(1) + ".request";
        CloseHandle(
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        if (!Within(WaitMs,
                    [&] { return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES; }))
            throw "nobody took the screenshot " + arg(1);
    } else {
        throw "unknown command " + name;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 3) return 0;  // nothing to do: starts a Wine session
    std::ifstream script(argv[2]);
    const DWORD started = GetTickCount();
    for (std::string line; std::getline(script, line);) {
        std::printf("ui-driver: %5.1f s %s\n", (GetTickCount() - started) / 1000.0, line.c_str());
        try {
            Run(Split(line));
        } catch (const std::string& failure) {
            std::printf("ui-driver: FAIL: %s\n", failure.c_str());
            return 1;
        }
    }
    return 0;
}
