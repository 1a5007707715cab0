#include "tools/CombineTool.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "payload/DriveModels.h"
#include "tools/PayloadCombiner.h"

namespace fs = std::filesystem;

namespace {

const char ToolName[] = "combine-firmware";

const char UsageText[] =
    "usage: combine-firmware PROGRAM IMAGE VERSION MODEL OUTPUT\n"
    "       combine-firmware --inspect PROGRAM\n"
    "       combine-firmware --help\n"
    "\n"
    "Writes OUTPUT: a copy of the built PROGRAM whose unfilled payload block\n"
    "carries IMAGE (exactly 131072 bytes), its checksum, the VERSION text (1 to\n"
    "4 printable ASCII characters) and the MODEL digit (0 to 9). PROGRAM itself\n"
    "is never changed, and nothing is written when an input is refused.\n"
    "\n"
    "--inspect tells whether PROGRAM's payload block is still unfilled, or shows\n"
    "its version, checksum text, whether that checksum matches the image, and\n"
    "its model digit, and whether the version can be a revision of that model.\n"
    "\n"
    "The unattended runs leave a drive alone whose revision is the version text\n"
    "already. That needs a VERSION that a drive of the MODEL could report (it\n"
    "matches the model's revision pattern); the tool warns when it cannot.\n";

// A refusal, reported as "combine-firmware: <why>".
int Refuse(std::ostream& err, const std::string& why) {
    err << ToolName << ": " << why << "\n";
    return 1;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& contents) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    if (size < 0) return false;
    contents.resize(static_cast<size_t>(size));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(contents.data()), size);
    return in.gcount() == size;
}

std::string Hex(size_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%zX", value);
    return text;
}

// Whether the runs can ever find a drive up to date with this version, in
// words; fits tells which.
std::string RevisionFitText(const std::string& version, char modelDigit, bool& fits) {
    const uint8_t modelId = static_cast<uint8_t>(modelDigit - '0');
    const DriveModel* model = DriveModelFor(modelId);
    fits = VersionFitsModel(modelId, version);
    if (model == nullptr) {
        return std::string("model digit ") + modelDigit +
               " names no drive model: up to date can never be judged";
    }
    return "version \"" + version + "\" " + (fits ? "is a" : "is no") + " revision of model " +
           modelDigit + " (\"" + model->versionPattern + "\"): up to date can " +
           (fits ? "be judged" : "never be judged");
}

bool SameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec) && !ec) return true;
    // Two names of one file (a link, a different spelling of the folder).
    return fs::exists(b, ec) && fs::equivalent(a, b, ec) && !ec;
}

// Writes contents to a new file beside output, then puts it in output's
// place, so a failure never leaves a half-written program under its name.
bool WriteReplacing(const fs::path& output, const std::vector<uint8_t>& contents,
                    fs::perms permissions, std::string& why) {
    fs::path temporary;
    std::error_code ec;
    for (int n = 0;; ++n) {
        temporary = output;
        temporary += ".combine-" + std::to_string(n) + ".tmp";
        if (!fs::exists(temporary, ec)) break;
    }
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            why = "cannot create " + temporary.string();
            return false;
        }
        out.write(reinterpret_cast<const char*>(contents.data()),
                  static_cast<std::streamsize>(contents.size()));
        out.close();
        if (!out) {
            fs::remove(temporary, ec);
            why = "cannot write " + temporary.string();
            return false;
        }
    }
    // A combined program stays as runnable as the one it came from.
    fs::permissions(temporary, permissions, ec);
    fs::rename(temporary, output, ec);
    if (ec) {
        why = "cannot replace " + output.string() + ": " + ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

int Combine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::string& programPath = args[0];
    const std::string& imagePath = args[1];
    const std::string& version = args[2];
    const std::string& model = args[3];
    const std::string& outputPath = args[4];

    std::string why = CheckVersionText(version);
    if (!why.empty()) return Refuse(err, why);
    why = CheckModelText(model);
    if (!why.empty()) return Refuse(err, why);
    if (SameFile(programPath, outputPath))
        return Refuse(err, "the output " + outputPath + " is the program itself");

    std::vector<uint8_t> program, image;
    if (!ReadWholeFile(programPath, program)) return Refuse(err, "cannot read " + programPath);
    if (!ReadWholeFile(imagePath, image)) return Refuse(err, "cannot read " + imagePath);
    if (image.size() != ImageSize)
        return Refuse(err, "the image " + imagePath + " is " + std::to_string(image.size()) +
                               " bytes, not " + std::to_string(ImageSize));

    const std::vector<size_t> blocks = FindUnfilledBlocks(program);
    if (blocks.empty()) return Refuse(err, programPath + " holds no unfilled payload block");
    if (blocks.size() > 1)
        return Refuse(err, programPath + " holds " + std::to_string(blocks.size()) +
                               " unfilled payload blocks, not one");

    FillPayloadBlock(program.data() + blocks[0], image.data(), version, model[0]);
    std::error_code ec;
    const fs::perms permissions = fs::status(programPath, ec).permissions();
    if (!WriteReplacing(outputPath, program, permissions, why)) return Refuse(err, why);

    const FilledBlockInfo info = DescribeFilledBlock(program.data() + blocks[0]);
    out << "payload block at " << Hex(blocks[0]) << ": version " << info.version << ", checksum "
        << info.checksumText << ", model " << info.modelDigit << "\n"
        << "wrote " << outputPath << "\n";
    bool fits = false;
    const std::string fit = RevisionFitText(info.version, info.modelDigit, fits);
    if (!fits) err << ToolName << ": warning: " << fit << "\n";
    return 0;
}

int Inspect(const std::string& programPath, std::ostream& out, std::ostream& err) {
    std::vector<uint8_t> program;
    if (!ReadWholeFile(programPath, program)) return Refuse(err, "cannot read " + programPath);

    const std::vector<size_t> unfilled = FindUnfilledBlocks(program);
    if (unfilled.size() == 1) {
        out << "payload block at " << Hex(unfilled[0]) << ": unfilled\n";
        return 0;
    }
    if (unfilled.size() > 1)
        return Refuse(err, programPath + " holds " + std::to_string(unfilled.size()) +
                               " unfilled payload blocks");

    // Among blocks that look filled, one whose checksum holds is the real one.
    std::vector<size_t> filled = FindFilledBlocks(program);
    if (filled.size() > 1) {
        std::vector<size_t> matching;
        for (size_t offset : filled)
            if (DescribeFilledBlock(program.data() + offset).checksumMatches)
                matching.push_back(offset);
        if (matching.size() == 1) filled = matching;
    }
    if (filled.empty()) return Refuse(err, programPath + " holds no payload block");
    if (filled.size() > 1)
        return Refuse(err, programPath + " holds " + std::to_string(filled.size()) +
                               " blocks that could be the payload");

    const FilledBlockInfo info = DescribeFilledBlock(program.data() + filled[0]);
    char sum[8];
    std::snprintf(sum, sizeof sum, "%04X", static_cast<unsigned>(info.imageChecksum));
    out << "payload block at " << Hex(filled[0]) << ": filled\n"
        << "version: " << info.version << "\n"
        << "checksum text: " << info.checksumText << "\n"
        << "image checksum: " << sum << (info.checksumMatches ? " (matches)" : " (does not match)")
        << "\n"
        << "model digit: " << info.modelDigit << "\n";
    bool fits = false;
    out << "revision: " << RevisionFitText(info.version, info.modelDigit, fits) << "\n";
    return 0;
}

}  // namespace

int RunCombineTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << UsageText;
        return 0;
    }
    if (args.size() == 2 && args[0] == "--inspect") return Inspect(args[1], out, err);
    if (args.size() == 5 && args[0].rfind("--", 0) != 0) return Combine(args, out, err);
    err << UsageText;
    return 2;
}
