#include "unattended/RunFeedback.h"

#include "flash/FormatText.h"

namespace {

const char* StepName(ChunkStep step) {
    switch (step) {
        case ChunkStep::Write:
            return "write";
        case ChunkStep::ReadBack:
            return "read-back";
        case ChunkStep::Compare:
            return "compare";
        default:
            return "flash read";
    }
}

}  // namespace

void LoggingFeedback::SetDrive(int position) {
    prefix_ = FormatText("Drive %d: ", position);
}

void LoggingFeedback::Say(const std::string& text) {
    Line(text);
    if (observer_) observer_->Notice(prefix_ + text);
}

void LoggingFeedback::SaySignals() {
    const std::string arrived = signals_ ? signals_->Arrived() : "";
    if (!arrived.empty()) Say(arrived);
}

void LoggingFeedback::Notice(const std::string& text) {
    SaySignals();
    Say(text);
}

void LoggingFeedback::SetStatusText(const std::string& text) {
    SaySignals();
    Line("status: " + text);
    if (echo_) echo_->SetStatusText(text);
}

void LoggingFeedback::SetProgress(int position) {
    SaySignals();
    if (echo_) echo_->SetProgress(position);
}

int LoggingFeedback::ShowMessageBox(const std::string& text, const char*, MessageButtons) {
    Line((answer_ == AnswerYes ? "answered yes: " : "not asked: ") + text);
    return answer_;
}

void LoggingFeedback::ChunkAttemptFailed(uint32_t offset, ChunkStep step) {
    SaySignals();
    const std::string detail = step == ChunkStep::Compare ? "" : backend_.LastCommandDetail();
    Line(FormatText("attempt at flash offset 0x%05X failed: %s", static_cast<unsigned>(offset),
                    StepName(step)) +
         (detail.empty() ? "" : " (" + detail + ")"));
    if (echo_) echo_->ChunkAttemptFailed(offset, step);
}

int LoggedRestart::RequestRestart(unsigned flags) {
    log_.Line(FormatText("Restart: requested with flags 0x%X", flags));
    return platform_.RequestRestart(flags);
}

void LoggedRestart::ShowMessage(const char* text, const char*) {
    log_.Line(std::string("Restart: ") + text);
    failed = true;
}
