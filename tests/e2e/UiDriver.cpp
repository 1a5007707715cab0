// ui-driver -f SCRIPT: drives a dialog program of another process in the
// same Wine session for the end-to-end scenarios, one command a line, its
// fields separated by '|' (\r, \n and \\ stand for their characters). A
// wait gives up after 60 s. The first failure ends the run with
// "ui-driver: FAIL: ..." and exit code 1.
//
//   window|TITLE            wait for the top-level window; it is the dialog
//   text|ID|TEXT            wait until control ID of the dialog reads TEXT
//   enabled|ID|0 or 1       control ID is disabled / enabled
//   combo|ID|COUNT|SEL      combo box lines and selected line
//   combo-line|ID|I|TEXT    line I of the combo box
//   select|ID|I             select line I
//   click|ID                press the button
//   command|ID              WM_COMMAND for ID (reaches hidden buttons too)
//   box|CAPTION|TEXT[|IDS]  wait for the message box; its text, its buttons
//   answer|CAPTION|ID       press button ID of the message box
//   open|PATH               choose PATH in the file-open dialog
//   gone                    wait until the dialog has gone
//   shot|NAME               screenshot: %E2E_SHOT_DIR%\NAME.request, which
//                           the runner removes when it has taken it
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Words = std::vector<std::string>;
constexpr DWORD WaitMs = 60000;
// One message to the program: a loaded machine can keep even an idle
// program from answering for seconds.
constexpr UINT SendMs = 20000;

// A failed step throws its message up to the command loop.
[[noreturn]] void Fail(const std::string& message) {
    throw message;
}

std::string Shown(const std::string& text) {
    std::string out = "\"";
    for (char c : text) out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    return out + "\"";
}

Words Split(const std::string& line) {
    Words words(1);
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
        Fail("the program does not answer");
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

class Driver {
  public:
    void Run(const Words& w) {
        const std::string& name = w[0];
        auto arg = [&](size_t i) -> const std::string& {
            if (i >= w.size()) Fail("too few words");
            return w[i];
        };
        auto number = [&](size_t i) { return std::atoi(arg(i).c_str()); };
        if (name == "window") {
            if (!Within(WaitMs, [&] { return (dialog_ = Find(arg(1), nullptr, nullptr)); }))
                Fail("no window " + Shown(arg(1)));
        } else if (name == "text") {
            std::string have = "nothing (program busy)", read;
            if (!Within(WaitMs, [&] {
                    if (!ReadText(Control(arg(1)), read, 500)) return false;
                    have = Shown(read);
                    return read == arg(2);
                }))
                Fail("control " + arg(1) + " reads " + have + ", expected " + Shown(arg(2)));
        } else if (name == "enabled") {
            if ((IsWindowEnabled(Control(arg(1))) != FALSE) != (number(2) != 0))
                Fail("control " + arg(1) + (number(2) ? " is disabled" : " is enabled"));
        } else if (name == "combo") {
            HWND box = Control(arg(1));
            LRESULT count = Send(box, CB_GETCOUNT, 0, 0), selected = Send(box, CB_GETCURSEL, 0, 0);
            if (count != number(2) || selected != number(3))
                Fail("combo box " + arg(1) + ": " + std::to_string(count) + " lines, line " +
                     std::to_string(selected) + " selected");
        } else if (name == "combo-line") {
            HWND box = Control(arg(1));
            // The wide form: the ANSI one hands another process's text over
            // unconverted.
            wchar_t line[256] = {};
            if (Send(box, CB_GETLBTEXTLEN, number(2), 0) >= 256 ||
                Send(box, CB_GETLBTEXT, number(2), reinterpret_cast<LPARAM>(line)) == CB_ERR)
                Fail("combo box " + arg(1) + " has no line " + arg(2));
            char have[256] = {};
            WideCharToMultiByte(CP_ACP, 0, line, -1, have, sizeof have, nullptr, nullptr);
            if (have != arg(3))
                Fail("combo line " + arg(2) + " reads " + Shown(have) + ", expected " +
                     Shown(arg(3)));
        } else if (name == "select") {
            if (Send(Control(arg(1)), CB_SETCURSEL, number(2), 0) != number(2))
                Fail("combo box " + arg(1) + " cannot select line " + arg(2));
        } else if (name == "click") {
            PostMessageA(Control(arg(1)), BM_CLICK, 0, 0);
        } else if (name == "command") {
            PressButton(Dialog(), number(1));
        } else if (name == "box") {
            HWND box = Box(arg(1));
            std::string have;
            // A message box shows its text in the static control 0xFFFF.
            if (!ReadText(GetDlgItem(box, 0xFFFF), have) || have != arg(2))
                Fail("message box " + Shown(arg(1)) + " says " + Shown(have));
            std::string buttons;
            for (int id = IDOK; id <= IDCONTINUE; ++id) {
                HWND button = GetDlgItem(box, id);
                if (button && IsWindowVisible(button))
                    buttons += (buttons.empty() ? "" : ",") + std::to_string(id);
            }
            if (w.size() > 3 && buttons != arg(3)) Fail("message box buttons are " + buttons);
        } else if (name == "answer") {
            HWND box = Box(arg(1));
            PressButton(box, number(2));
            Gone(box, "message box " + Shown(arg(1)));
        } else if (name == "open") {
            HWND open = Box("Open");
            Send(GetDlgItem(open, 1148), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(arg(1).c_str()));
            PressButton(open, IDOK);
            Gone(open, "file dialog");
        } else if (name == "gone") {
            Gone(Dialog(), "window");
        } else if (name == "shot") {
            std::string path =
                std::string(std::getenv("E2E_SHOT_DIR")) + "\\" + arg(1) + ".request";
            CloseHandle(
                CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            if (!Within(WaitMs, [&] {
                    return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
                }))
                Fail("nobody took the screenshot " + arg(1));
        } else {
            Fail("unknown command " + name);
        }
    }

  private:
    HWND Dialog() const {
        if (!dialog_ || !IsWindow(dialog_)) Fail("no window");
        return dialog_;
    }

    HWND Control(const std::string& id) const {
        HWND control = GetDlgItem(Dialog(), std::atoi(id.c_str()));
        if (!control) Fail("the window has no control " + id);
        return control;
    }

    HWND Box(const std::string& caption) const {
        HWND box = nullptr;
        if (!Within(WaitMs, [&] { return (box = Find(caption, "#32770", dialog_)); }))
            Fail("no dialog box " + Shown(caption));
        return box;
    }

    static void PressButton(HWND window, int id) {
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
    }

    static void Gone(HWND window, const std::string& what) {
        if (!Within(WaitMs, [&] { return !IsWindow(window) || !IsWindowVisible(window); }))
            Fail("the " + what + " is still there");
    }

    HWND dialog_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 3) return 0;  // nothing to do: starts a Wine session
    std::ifstream script(argv[2]);
    Driver driver;
    const DWORD started = GetTickCount();
    for (std::string line; std::getline(script, line);) {
        std::printf("ui-driver: %5.1f s %s\n", (GetTickCount() - started) / 1000.0, line.c_str());
        try {
            driver.Run(Split(line));
        } catch (const std::string& failure) {
            std::printf("ui-driver: FAIL: %s\n", failure.c_str());
            return 1;
        }
    }
    return 0;
}
