// ui-driver: drives a dialog program of another process in the same Wine (or
// Windows) session, for the end-to-end tests.
//
// Usage: ui-driver COMMAND... | ui-driver -f SCRIPT
// Every argument is one command line; a script holds one command line per
// line ('#' starts a comment line). A command line is split at blanks; double
// quotes group words ("\"" inside quotes is a quote). In the texts that
// commands compare, \r, \n, \t and \\ stand for their characters; paths are
// taken literally. Every wait ends after its timeout (seconds, last argument,
// default 10) with a failure. The first failure ends the run with exit code 1
// and a line starting "ui-driver: FAIL"; a wrong command gives exit code 2.
//
// Commands (ID is a control id of the dialog found by wait-window, decimal or
// 0x hex):
//   wait-window TITLE [T]          find the top-level dialog with this title
//   expect-no-window TITLE SECONDS no such window appears for that long
//   expect-text ID TEXT            the control's text (WM_GETTEXT) is TEXT
//   wait-text ID TEXT [T]          wait until it is
//   expect-enabled ID 0|1          IsWindowEnabled
//   expect-visible ID 0|1          IsWindowVisible
//   expect-combo ID COUNT CURSEL   number of lines and selected line (-1: none)
//   expect-combo-line ID INDEX TEXT
//   select ID INDEX                CB_SETCURSEL
//   click ID                       BM_CLICK posted to the button
//   command ID                     WM_COMMAND (BN_CLICKED) posted to the dialog;
//                                  reaches hidden and disabled buttons
//   wait-box CAPTION [T]           a message box (#32770) with this caption
//   expect-box-text CAPTION TEXT [T]
//   expect-box-buttons CAPTION ID,ID... [T]   exactly these buttons exist
//   answer-box CAPTION BUTTON [T]  press IDOK 1, IDCANCEL 2, IDYES 6, IDNO 7...
//   expect-no-box CAPTION SECONDS  no such box appears for that long
//   answer-open PATH [T]           file-open dialog "Open": name field 1148, IDOK
//   cancel-open [T]                file-open dialog: IDCANCEL
//   wait-gone [T]                  the dialog of wait-window has gone
//   screenshot NAME [T]            ask the runner for a screenshot: creates
//                                  %E2E_SHOT_DIR%\NAME.request and waits until
//                                  the runner has removed it
//   must-fail MESSAGE "COMMAND"    the command must fail with a message holding
//                                  MESSAGE (the driver's test of itself)
//   sleep MS
//   echo TEXT

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Words = std::vector<std::wstring>;

constexpr double DefaultTimeout = 10.0;
constexpr DWORD PollMs = 100;
// How long one message to the program may take: short while polling (a busy
// program is asked again), long for a single read or action (a loaded
// machine can keep a program from answering for seconds).
constexpr UINT PollSendMs = 500;
constexpr UINT SendTimeoutMs = 20000;

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    int size =
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

// Shows control characters, so that a mismatch in line breaks is visible.
std::string Shown(const std::wstring& text) {
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        if (c == L'\r')
            out += L"\\r";
        else if (c == L'\n')
            out += L"\\n";
        else if (c == L'\t')
            out += L"\\t";
        else if (c == L'\\')
            out += L"\\\\";
        else
            out += c;
    }
    return Narrow(out + L"\"");
}

std::wstring Unescape(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size()) {
            wchar_t next = text[i + 1];
            if (next == L'r' || next == L'n' || next == L't' || next == L'\\') {
                out += next == L'r' ? L'\r' : next == L'n' ? L'\n' : next == L't' ? L'\t' : L'\\';
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

Words Split(const std::wstring& line) {
    Words words;
    std::wstring word;
    bool inWord = false, quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        wchar_t c = line[i];
        if (quoted) {
            if (c == L'\\' && i + 1 < line.size() && line[i + 1] == L'"') {
                word += L'"';
                ++i;
            } else if (c == L'"') {
                quoted = false;
            } else {
                word += c;
            }
        } else if (c == L'"') {
            quoted = inWord = true;
        } else if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

// A failed command: what was expected and what was found.
struct Failure {
    std::string message;
};

// A command line that cannot be run as written.
struct UsageError {
    std::string message;
};

class Deadline {
  public:
    explicit Deadline(double seconds) : end_(GetTickCount() + static_cast<DWORD>(seconds * 1000)) {}
    bool Passed() const { return static_cast<LONG>(GetTickCount() - end_) >= 0; }

  private:
    DWORD end_;
};

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// The text of a window of any process. WM_GETTEXT is marshalled across
// processes; the timeout keeps a busy program from blocking the driver.
bool ReadText(HWND window, std::wstring& text, UINT timeoutMs = SendTimeoutMs) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, timeoutMs, &length))
        return false;
    std::vector<wchar_t> buffer(length + 2);
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(),
                             reinterpret_cast<LPARAM>(&buffer[0]), SMTO_NORMAL, timeoutMs, &copied))
        return false;
    text.assign(&buffer[0], copied);
    return true;
}

struct Search {
    std::wstring title;
    std::wstring className;
    HWND exclude;
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (window == search->exclude || !IsWindowVisible(window)) return TRUE;
    if (!search->className.empty() && ClassOf(window) != search->className) return TRUE;
    // A top-level window's caption is read without a message to its owner.
    wchar_t title[512] = {};
    GetWindowTextW(window, title, 512);
    if (search->title != title) return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindTopLevel(const std::wstring& title, const std::wstring& className, HWND exclude) {
    Search search{title, className, exclude, nullptr};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class Driver {
  public:
    explicit Driver(std::wstring shotDir) : shotDir_(std::move(shotDir)) {}

    void Run(const Words& words) {
        const std::wstring& name = words[0];
        if (name == L"wait-window") {
            Need(words, 2, 3);
            double timeout = Timeout(words, 2);
            Deadline deadline(timeout);
            for (;;) {
                dialog_ = FindTopLevel(words[1], L"", nullptr);
                if (dialog_) return;
                if (deadline.Passed())
                    Fail("no window titled " + Shown(words[1]) + " within " + Secs(timeout));
                Sleep(PollMs);
            }
        } else if (name == L"expect-no-window") {
            Need(words, 3, 3);
            Deadline deadline(Number(words[2]));
            while (!deadline.Passed()) {
                if (FindTopLevel(words[1], L"", nullptr))
                    Fail("a window titled " + Shown(words[1]) + " appeared");
                Sleep(PollMs);
            }
        } else if (name == L"expect-text") {
            Need(words, 3, 3);
            std::wstring want = Unescape(words[2]), have;
            if (!ReadText(Control(words[1]), have))
                Fail("control " + Narrow(words[1]) + " does not answer WM_GETTEXT");
            if (have != want)
                Fail("control " + Narrow(words[1]) + " reads " + Shown(have) + ", expected " +
                     Shown(want));
        } else if (name == L"wait-text") {
            Need(words, 3, 4);
            std::wstring want = Unescape(words[2]), have;
            double timeout = Timeout(words, 3);
            Deadline deadline(timeout);
            HWND control = Control(words[1]);
            bool answered = false;
            for (;;) {
                if (ReadText(control, have, PollSendMs)) {
                    answered = true;
                    if (have == want) return;
                }
                if (deadline.Passed())
                    Fail("control " + Narrow(words[1]) + " did not read " + Shown(want) +
                         " within " + Secs(timeout) + "; last read " +
                         (answered ? Shown(have) : std::string("nothing (program busy)")));
                Sleep(PollMs);
            }
        } else if (name == L"expect-enabled" || name == L"expect-visible") {
            Need(words, 3, 3);
            HWND control = Control(words[1]);
            bool want = Number(words[2]) != 0;
            bool enabled = name == L"expect-enabled";
            bool have =
                enabled ? IsWindowEnabled(control) != FALSE : IsWindowVisible(control) != FALSE;
            if (have != want)
                Fail("control " + Narrow(words[1]) + " is " + (have ? "" : "not ") +
                     (enabled ? "enabled" : "visible"));
        } else if (name == L"expect-combo") {
            Need(words, 4, 4);
            HWND box = Control(words[1]);
            LRESULT count = Send(box, CB_GETCOUNT, 0, 0);
            LRESULT selected = Send(box, CB_GETCURSEL, 0, 0);
            if (count != Number(words[2]) || selected != Number(words[3]))
                Fail("combo box " + Narrow(words[1]) + " has " + std::to_string(count) +
                     " lines, line " + std::to_string(selected) + " selected; expected " +
                     Narrow(words[2]) + " lines, line " + Narrow(words[3]));
        } else if (name == L"expect-combo-line") {
            Need(words, 4, 4);
            HWND box = Control(words[1]);
            WPARAM index = static_cast<WPARAM>(Number(words[2]));
            // The wide form: the ANSI one hands the UTF-16 text over unconverted
            // when the box belongs to another process.
            LRESULT length = Send(box, CB_GETLBTEXTLEN, index, 0);
            if (length == CB_ERR)
                Fail("combo box " + Narrow(words[1]) + " has no line " + Narrow(words[2]));
            std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
            Send(box, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(&buffer[0]));
            std::wstring have(&buffer[0]), want = Unescape(words[3]);
            if (have != want)
                Fail("combo line " + Narrow(words[2]) + " reads " + Shown(have) + ", expected " +
                     Shown(want));
        } else if (name == L"select") {
            Need(words, 3, 3);
            LRESULT index = Number(words[2]);
            if (Send(Control(words[1]), CB_SETCURSEL, static_cast<WPARAM>(index), 0) != index)
                Fail("combo box " + Narrow(words[1]) + " cannot select line " + Narrow(words[2]));
        } else if (name == L"click") {
            Need(words, 2, 2);
            PostMessageW(Control(words[1]), BM_CLICK, 0, 0);
        } else if (name == L"command") {
            Need(words, 2, 2);
            int id = static_cast<int>(Number(words[1]));
            PostMessageW(Dialog(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(Dialog(), id)));
        } else if (name == L"wait-box") {
            Need(words, 2, 3);
            WaitBox(words[1], Timeout(words, 2));
        } else if (name == L"expect-box-text") {
            Need(words, 3, 4);
            HWND box = WaitBox(words[1], Timeout(words, 3));
            std::wstring have, want = Unescape(words[2]);
            // A message box shows its text in a static control with id 0xFFFF.
            HWND text = GetDlgItem(box, 0xFFFF);
            if (!text || !ReadText(text, have)) Fail("message box without a readable text");
            if (have != want)
                Fail("message box " + Shown(words[1]) + " says " + Shown(have) + ", expected " +
                     Shown(want));
        } else if (name == L"expect-box-buttons") {
            Need(words, 3, 4);
            HWND box = WaitBox(words[1], Timeout(words, 3));
            std::vector<long> want;
            std::wstringstream list(words[2]);
            std::wstring item;
            while (std::getline(list, item, L',')) want.push_back(Number(item));
            std::vector<long> have;
            for (int id = IDOK; id <= IDCONTINUE; ++id) {
                HWND button = GetDlgItem(box, id);
                if (button && IsWindowVisible(button)) have.push_back(id);
            }
            if (have != want) {
                std::string shown;
                for (long id : have) shown += (shown.empty() ? "" : ",") + std::to_string(id);
                Fail("message box buttons are " + shown + ", expected " + Narrow(words[2]));
            }
        } else if (name == L"answer-box") {
            Need(words, 3, 4);
            HWND box = WaitBox(words[1], Timeout(words, 3));
            int id = static_cast<int>(Number(words[2]));
            HWND button = GetDlgItem(box, id);
            if (!button)
                Fail("message box " + Shown(words[1]) + " has no button " + Narrow(words[2]));
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(button));
            WaitWindowGone(box, 10, "message box " + Shown(words[1]));
        } else if (name == L"expect-no-box") {
            Need(words, 3, 3);
            Deadline deadline(Number(words[2]));
            while (!deadline.Passed()) {
                if (FindTopLevel(words[1], L"#32770", dialog_))
                    Fail("a message box " + Shown(words[1]) + " appeared");
                Sleep(PollMs);
            }
        } else if (name == L"answer-open" || name == L"cancel-open") {
            bool answer = name == L"answer-open";
            Need(words, answer ? 2 : 1, answer ? 3 : 2);
            HWND open = WaitBox(L"Open", Timeout(words, answer ? 2 : 1));
            if (answer) {
                HWND field = GetDlgItem(open, 1148);
                if (!field) Fail("the file dialog has no file-name field 1148");
                DWORD_PTR ignored;
                if (!SendMessageTimeoutW(field, WM_SETTEXT, 0,
                                         reinterpret_cast<LPARAM>(words[1].c_str()), SMTO_NORMAL,
                                         SendTimeoutMs, &ignored))
                    Fail("the file dialog's name field takes no text");
            }
            int id = answer ? IDOK : IDCANCEL;
            PostMessageW(open, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(open, id)));
            WaitWindowGone(open, 10, "file dialog");
        } else if (name == L"wait-gone") {
            Need(words, 1, 2);
            if (!dialog_) throw UsageError{"no window yet: use wait-window first"};
            WaitWindowGone(dialog_, Timeout(words, 1), "window");
        } else if (name == L"screenshot") {
            Need(words, 2, 3);
            Screenshot(words[1], Timeout(words, 2));
        } else if (name == L"sleep") {
            Need(words, 2, 2);
            Sleep(static_cast<DWORD>(Number(words[1])));
        } else if (name == L"must-fail") {
            Need(words, 3, 3);
            Words inner = Split(words[2]);
            if (inner.empty()) throw UsageError{"must-fail needs a command"};
            try {
                Run(inner);
            } catch (const Failure& failure) {
                if (failure.message.find(Narrow(words[1])) != std::string::npos) return;
                Fail("\"" + Narrow(words[2]) + "\" failed otherwise: " + failure.message);
            }
            Fail("\"" + Narrow(words[2]) + "\" did not fail");
        } else if (name == L"echo") {
            std::string line;
            for (size_t i = 1; i < words.size(); ++i) line += (i > 1 ? " " : "") + Narrow(words[i]);
            std::printf("%s\n", line.c_str());
        } else {
            throw UsageError{"unknown command " + Narrow(name)};
        }
    }

  private:
    [[noreturn]] static void Fail(const std::string& message) { throw Failure{message}; }

    static std::string Secs(double seconds) {
        char text[32];
        std::snprintf(text, sizeof text, "%g s", seconds);
        return text;
    }

    static void Need(const Words& words, size_t least, size_t most) {
        if (words.size() < least || words.size() > most)
            throw UsageError{"wrong number of arguments for " + Narrow(words[0])};
    }

    static long Number(const std::wstring& word) {
        wchar_t* end = nullptr;
        long value = std::wcstol(word.c_str(), &end, 0);
        if (word.empty() || *end) throw UsageError{"not a number: " + Narrow(word)};
        return value;
    }

    static double Timeout(const Words& words, size_t index) {
        if (words.size() <= index) return DefaultTimeout;
        wchar_t* end = nullptr;
        double value = std::wcstod(words[index].c_str(), &end);
        if (*end || value <= 0) throw UsageError{"not a timeout: " + Narrow(words[index])};
        return value;
    }

    HWND Dialog() const {
        if (!dialog_) throw UsageError{"no window yet: use wait-window first"};
        if (!IsWindow(dialog_)) Fail("the window has gone");
        return dialog_;
    }

    HWND Control(const std::wstring& id) const {
        HWND control = GetDlgItem(Dialog(), static_cast<int>(Number(id)));
        if (!control) Fail("the window has no control " + Narrow(id));
        return control;
    }

    static LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, SendTimeoutMs,
                                 &result))
            Fail("the program does not answer");
        return static_cast<LRESULT>(result);
    }

    HWND WaitBox(const std::wstring& caption, double timeout) const {
        Deadline deadline(timeout);
        for (;;) {
            HWND box = FindTopLevel(caption, L"#32770", dialog_);
            if (box) return box;
            if (deadline.Passed())
                Fail("no dialog box " + Shown(caption) + " within " + Secs(timeout));
            Sleep(PollMs);
        }
    }

    static void WaitWindowGone(HWND window, double timeout, const std::string& what) {
        Deadline deadline(timeout);
        while (IsWindow(window) && IsWindowVisible(window)) {
            if (deadline.Passed()) Fail("the " + what + " is still there after " + Secs(timeout));
            Sleep(PollMs);
        }
    }

    void Screenshot(const std::wstring& name, double timeout) const {
        if (shotDir_.empty()) {
            std::printf("ui-driver: no E2E_SHOT_DIR, screenshot %s skipped\n",
                        Narrow(name).c_str());
            return;
        }
        std::wstring path = shotDir_ + L"\\" + name + L".request";
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) Fail("cannot create " + Narrow(path));
        CloseHandle(file);
        Deadline deadline(timeout);
        while (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            if (deadline.Passed()) Fail("nobody took the screenshot " + Narrow(name));
            Sleep(PollMs);
        }
    }

    std::wstring shotDir_;
    HWND dialog_ = nullptr;
};

std::vector<std::wstring> ReadScript(const wchar_t* path) {
    std::ifstream in(Narrow(path).c_str());
    if (!in) throw UsageError{"cannot read " + Narrow(path)};
    std::vector<std::wstring> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(Widen(line));
    return lines;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::vector<std::wstring> lines;
    try {
        if (argc == 3 && std::wstring(argv[1]) == L"-f") {
            lines = ReadScript(argv[2]);
        } else {
            for (int i = 1; i < argc; ++i) lines.push_back(argv[i]);
        }
        if (lines.empty()) throw UsageError{"usage: ui-driver COMMAND... | ui-driver -f SCRIPT"};
    } catch (const UsageError& error) {
        std::printf("ui-driver: %s\n", error.message.c_str());
        return 2;
    }
    const wchar_t* shotDir = _wgetenv(L"E2E_SHOT_DIR");
    Driver driver(shotDir ? shotDir : L"");
    const DWORD started = GetTickCount();
    for (const std::wstring& line : lines) {
        Words words = Split(line);
        if (words.empty() || words[0][0] == L'#') continue;
        std::printf("ui-driver: %5.1f s %s\n", (GetTickCount() - started) / 1000.0,
                    Narrow(line).c_str());
        try {
            driver.Run(words);
        } catch (const Failure& failure) {
            std::printf("ui-driver: FAIL: %s\n", failure.message.c_str());
            return 1;
        } catch (const UsageError& error) {
            std::printf("ui-driver: %s\n", error.message.c_str());
            return 2;
        }
    }
    return 0;
}
