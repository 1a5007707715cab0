#include <gtest/gtest.h>

#include <string>

#include "flash/SaveFlashToFile.h"
#include "flash/win32/Win32OutputFile.h"
#include "tests/unit/flash/FlashFakes.h"

namespace {

// A file of the test's own in the temporary folder, removed afterwards.
class TempFile {
  public:
    explicit TempFile(const char* name) {
        char folder[MAX_PATH];
        GetTempPathA(sizeof folder, folder);
        path_ = std::string(folder) + name + std::to_string(GetCurrentProcessId()) + ".bin";
        DeleteFileA(path_.c_str());
    }
    ~TempFile() { DeleteFileA(path_.c_str()); }

    const std::string& Path() const { return path_; }

    void Fill(const std::string& contents) const {
        HANDLE h = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(h, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
        CloseHandle(h);
    }
    std::string Read() const {
        HANDLE h = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return "<unreadable>";
        std::string contents(GetFileSize(h, nullptr), '\0');
        DWORD read = 0;
        if (!contents.empty())
            ReadFile(h, &contents[0], static_cast<DWORD>(contents.size()), &read, nullptr);
        CloseHandle(h);
        return contents;
    }
    bool Exists() const { return GetFileAttributesA(path_.c_str()) != INVALID_FILE_ATTRIBUTES; }

  private:
    std::string path_;
};

// Whether another opener gets the file, and the error it is refused with.
DWORD TryOpenElsewhere(const std::string& path, DWORD access) {
    HANDLE h = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(h);
    return NO_ERROR;
}

TEST(Win32OutputFileTest, OpeningCreatesAMissingFileEmpty) {
    TempFile temp("flash-new");
    Win32OutputFile file;
    ASSERT_TRUE(file.Open(temp.Path()));
    uint64_t length = 99;
    EXPECT_TRUE(file.Length(length));
    EXPECT_EQ(length, 0u);
    file.Close();
    EXPECT_TRUE(temp.Exists());
}

TEST(Win32OutputFileTest, OpeningNeverShortensAnExistingFile) {
    TempFile temp("flash-keep");
    temp.Fill("old contents");
    {
        Win32OutputFile file;
        ASSERT_TRUE(file.Open(temp.Path()));
        uint64_t length = 0;
        EXPECT_TRUE(file.Length(length));
        EXPECT_EQ(length, 12u);
    }  // closed by its destructor
    EXPECT_EQ(temp.Read(), "old contents");
}

TEST(Win32OutputFileTest, NoOtherOpenerGetsTheFileWhileItIsOpen) {
    TempFile temp("flash-locked");
    Win32OutputFile file;
    ASSERT_TRUE(file.Open(temp.Path()));
    EXPECT_EQ(TryOpenElsewhere(temp.Path(), GENERIC_READ), DWORD{ERROR_SHARING_VIOLATION});
    EXPECT_EQ(TryOpenElsewhere(temp.Path(), GENERIC_WRITE), DWORD{ERROR_SHARING_VIOLATION});
    file.Close();
    EXPECT_EQ(TryOpenElsewhere(temp.Path(), GENERIC_READ), DWORD{NO_ERROR});
}

TEST(Win32OutputFileTest, TruncateThenWriteReplacesTheContentsFromTheStart) {
    TempFile temp("flash-replace");
    temp.Fill("a much longer old content");
    Win32OutputFile file;
    ASSERT_TRUE(file.Open(temp.Path()));
    const uint8_t data[] = {'n', 'e', 'w'};
    EXPECT_TRUE(file.Truncate());
    EXPECT_TRUE(file.Write(data, sizeof data));
    file.Close();
    EXPECT_EQ(temp.Read(), "new");
}

TEST(Win32OutputFileTest, OperationsOnAFileThatIsNotOpenFail) {
    Win32OutputFile file;
    uint64_t length = 0;
    const uint8_t byte = 0;
    EXPECT_FALSE(file.Open(""));
    EXPECT_FALSE(file.Length(length));
    EXPECT_FALSE(file.Truncate());
    EXPECT_FALSE(file.Write(&byte, 1));
    file.Close();
}

// A drive that, while being read, checks whether the output file can be
// opened by anyone else.
class PeekingDrive : public FakeDrive {
  public:
    PeekingDrive(Journal& journal, uint32_t size, std::string path)
        : FakeDrive(journal, size), path_(std::move(path)) {}
    int ReadFlashData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                      uint16_t length) override {
        refusals.push_back(TryOpenElsewhere(path_, GENERIC_READ));
        return FakeDrive::ReadFlashData(destination, bufferId, offset, length);
    }
    std::vector<DWORD> refusals;

  private:
    std::string path_;
};

TEST(Win32OutputFileTest, SaveHoldsTheFileForItselfAndWritesExactlyTheFlash) {
    TempFile temp("flash-save");
    temp.Fill(std::string(0x30000, 'x'));
    Journal journal;
    PeekingDrive drive(journal, 0x8000, temp.Path());
    for (size_t i = 0; i < drive.flash.size(); ++i) drive.flash[i] = static_cast<uint8_t>(i * 13);
    RecordingFeedback feedback(journal);
    feedback.answer = AnswerYes;
    Win32OutputFile file;
    SaveFlashToFile(TestRecord(0x8000), drive, temp.Path(), file, feedback);
    EXPECT_EQ(feedback.Status(), "Save Firmware Successful!!");
    EXPECT_EQ(drive.refusals, std::vector<DWORD>(2, ERROR_SHARING_VIOLATION));
    EXPECT_EQ(temp.Read(), std::string(drive.flash.begin(), drive.flash.end()));
}

TEST(Win32OutputFileTest, FailedSaveLeavesTheOldFileAsItWas) {
    TempFile temp("flash-fail");
    temp.Fill("precious");
    Journal journal;
    FakeDrive drive(journal, 0x8000);
    drive.failFlashRead[0x4000] = 5;
    RecordingFeedback feedback(journal);
    feedback.answer = AnswerYes;
    Win32OutputFile file;
    SaveFlashToFile(TestRecord(0x8000), drive, temp.Path(), file, feedback);
    EXPECT_EQ(feedback.Status(), "Error Happen in ID 0 OFFSET 0x4000");
    EXPECT_EQ(temp.Read(), "precious");
}

}  // namespace
