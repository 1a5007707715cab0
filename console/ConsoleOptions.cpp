#include "console/ConsoleOptions.h"

#include <getopt.h>

#include <climits>
#include <cstdlib>
#include <set>

const char ConsoleUsageText[] =
    "Usage: flash-upgrade --list [OPTION]...\n"
    "  or:  flash-upgrade --check [OPTION]...\n"
    "  or:  flash-upgrade --upgrade [OPTION]...\n"
    "  or:  flash-upgrade --restore FILE [OPTION]...\n"
    "  or:  flash-upgrade --verify [--restore FILE] [OPTION]...\n"
    "  or:  flash-upgrade --save FILE --drive N|PATH [OPTION]...\n"
    "Replace the firmware of a DVD-ROM drive with the one this program carries\n"
    "(combine-firmware puts it in), or save a drive's firmware to a file.\n"
    "Put a saved firmware back, or tell by its contents what a drive holds.\n"
    "\n"
    "Actions (exactly one):\n"
    "      --list           print the firmware this program carries and the drives\n"
    "                       found: position, device path, vendor, product,\n"
    "                       revision, version numbers, flash size, and whether\n"
    "                       this firmware is for the drive and whether the drive\n"
    "                       carries it already\n"
    "      --check          write nothing: the exit status says whether --upgrade\n"
    "                       would write a drive (0 no, every drive this firmware\n"
    "                       is for carries it already; 1 yes; 3 no such drive)\n"
    "      --upgrade        write the firmware to every drive it is for, or to the\n"
    "                       one --drive names; each 16 KB chunk is read back and\n"
    "                       compared, and gets up to five attempts; then the whole\n"
    "                       download is read back once more before the drive is\n"
    "                       told to commit it, and a drive that was reset or lost\n"
    "                       part of it is written again from the first chunk (up\n"
    "                       to 3 times); a drive that carries this firmware\n"
    "                       already is left alone\n"
    "      --restore FILE   write FILE, a backup this program saved, as --upgrade\n"
    "                       writes the firmware, to every drive its record\n"
    "                       (FILE.txt) is for: the same vendor, product and chip\n"
    "                       code; a drive whose revision is the record's is left\n"
    "                       alone\n"
    "      --verify         write nothing: read each drive's whole flash (128 KB)\n"
    "                       and compare it with the firmware, or with --restore\n"
    "                       FILE (0 every drive holds exactly it, 1 one differs;\n"
    "                       the first differing offset and the differing 16 KB\n"
    "                       chunks are said)\n"
    "      --save FILE      read the whole flash of the drive --drive names into\n"
    "                       FILE, its record beside it (FILE.txt)\n"
    "\n"
    "Options:\n"
    "      --drive N|PATH   only this drive: its position in the list (from 0) or\n"
    "                       its device path (/dev/sr0)\n"
    "      --backup DIR     before writing a drive, save its flash into a new file\n"
    "                       in DIR, named from its vendor, product and revision,\n"
    "                       its record beside it (NAME.txt); a drive whose backup\n"
    "                       fails is not written (see Backups)\n"
    "      --log FILE       append a log of the run to FILE, one event a line\n"
    "      --force          also write drives of another model (skip the model\n"
    "                       check); --restore: also without a record\n"
    "      --reinstall      also write (or, with --check, count) the drives that\n"
    "                       carry this firmware already\n"
    "      --ignore-power   write on battery power too\n"
    "      --json           with --list, --check, --upgrade, --restore or --verify:\n"
    "                       print one JSON document on the standard output instead\n"
    "                       of the table (the firmware, every drive and what was\n"
    "                       done to it, the outcome and the exit status)\n"
    "      --yes            write without asking first\n"
    "      --overwrite      let --save replace an existing FILE\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "\n"
    "In a terminal, --upgrade (and --restore) shows what it will write to which\n"
    "drive and asks for y first, unless --yes is given. Without a terminal there\n"
    "is nobody to ask: it then needs --yes, and without it writes nothing (exit\n"
    "2).\n"
    "A drive loads its new firmware after a power cycle; the program restarts\n"
    "nothing.\n"
    "\n"
    "While a drive is written, from the first chunk until the pause after the\n"
    "commit, the machine may not sleep, shut down or go idle: the program holds\n"
    "a logind inhibitor (\"block\", who \"flash-upgrade\", why naming the drive).\n"
    "Without a system bus or logind the write goes on, and the log says so.\n"
    "From the answer (or --yes) to the end of the run SIGINT (Ctrl-C), SIGTERM,\n"
    "SIGHUP, SIGQUIT and SIGPIPE are held: the run says once that one arrived\n"
    "and writes the drive to its end.\n"
    "\n"
    "Backups: the flash and its record are written into DIR as\n"
    "unfinished-backup-N.tmp, synced, then renamed to their own names (the\n"
    "record first, never over anything), all before the first chunk goes to\n"
    "the drive, so a backup's name always holds a whole backup, with its record.\n"
    "An unfinished-backup-N.tmp found in DIR is what a run that was stopped\n"
    "(killed, a power loss) left: never a backup; the next run names it.\n"
    "\n"
    "A drive whose revision is the firmware's version text (\"5.1V\") carries this\n"
    "firmware already: --upgrade neither writes nor backs it up, so a repeated run\n"
    "writes nothing and ends with 0. Before the first write --upgrade reads\n"
    "/sys/class/power_supply: with a system battery present and no mains supply\n"
    "online it writes nothing and ends with 75, to be tried again on mains power\n"
    "(--ignore-power skips this).\n"
    "\n"
    "To undo an upgrade, put its backup back: --restore DIR/NAME.bin. Each backup\n"
    "NAME.bin has a record NAME.txt beside it: the drive's vendor, product and\n"
    "revision as reported, chip code, version numbers and flash size, the date,\n"
    "the program and the SHA-256 of NAME.bin. --restore and --verify --restore\n"
    "refuse, nothing written (exit 4): a FILE that cannot be read or is not\n"
    "131072 bytes; a record that is missing (--force goes on without one),\n"
    "unreadable or malformed; a FILE whose SHA-256 is not the record's, forced\n"
    "or not. A drive that loads the old firmware after a power cycle reports\n"
    "the record's revision: up to date, left alone unless --reinstall.\n"
    "\n"
    "Writing needs root (or the CAP_SYS_RAWIO capability); listing needs read\n"
    "access to the device nodes, saving and verifying read and write access. A\n"
    "mounted drive is neither written nor read: unmount it first. --save writes\n"
    "a new file beside FILE and renames it into place, so FILE is never left\n"
    "half written; its record FILE.txt goes into place the same way just\n"
    "before (an existing one only with --overwrite).\n"
    "\n"
    "One copy of root's runs at a time: each holds /run/flash-upgrade.lock\n"
    "(root's, mode 0600) with flock. Anything else found there, or a /run that\n"
    "other users may write to, is ignored and said, and the run goes on; a run\n"
    "without root takes no lock. --log refuses a symbolic link, a file with a\n"
    "second hard link or one that is not a regular file (exit 2).\n"
    "\n"
    "Exit status:\n"
    " 0  success (also --list, --help and --version); --upgrade: also when every\n"
    "    drive carries this firmware already; --check: nothing to write;\n"
    "    --verify: every drive holds exactly the image\n"
    " 1  an operation failed on at least one drive; or the writes were not\n"
    "    confirmed; or no permission to write (run as root); --check: at least\n"
    "    one drive would be written; --verify: a drive's flash differs\n"
    " 2  bad usage\n"
    " 3  no drive that this firmware is for (or the drive --drive names is\n"
    "    not there)\n"
    " 4  no firmware combined into this program, or its checksum does not\n"
    "    match; --restore: FILE refused (above); nothing was sent\n"
    " 5  another copy is running, or the drive is in use (mounted, or opened\n"
    "    by another program); nothing was sent to it\n"
    " 75  on battery power: nothing was written; try again on mains power\n";

namespace {

enum OptionId {
    ListId = 256,
    CheckId,
    UpgradeId,
    SaveId,
    DriveId,
    BackupId,
    LogId,
    ForceId,
    YesId,
    OverwriteId,
    ReinstallId,
    IgnorePowerId,
    JsonId,
    VerifyId,
    RestoreId,
    HelpId = 'h',
    VersionId = 'V',
};

const option LongOptions[] = {
    {"list", no_argument, nullptr, ListId},
    {"check", no_argument, nullptr, CheckId},
    {"upgrade", no_argument, nullptr, UpgradeId},
    {"save", required_argument, nullptr, SaveId},
    {"drive", required_argument, nullptr, DriveId},
    {"backup", required_argument, nullptr, BackupId},
    {"log", required_argument, nullptr, LogId},
    {"force", no_argument, nullptr, ForceId},
    {"yes", no_argument, nullptr, YesId},
    {"overwrite", no_argument, nullptr, OverwriteId},
    {"reinstall", no_argument, nullptr, ReinstallId},
    {"ignore-power", no_argument, nullptr, IgnorePowerId},
    {"json", no_argument, nullptr, JsonId},
    {"verify", no_argument, nullptr, VerifyId},
    {"restore", required_argument, nullptr, RestoreId},
    {"help", no_argument, nullptr, HelpId},
    {"version", no_argument, nullptr, VersionId},
    {nullptr, 0, nullptr, 0},
};

// "3" is a list position (0 to 9999, as on Windows), "/dev/sr0" a device
// path; a link such as /dev/cdrom is followed to the node it names.
bool ReadDrive(const std::string& value, DriveChoice& choice) {
    if (value[0] == '/') {
        choice.kind = DriveChoice::Path;
        char resolved[PATH_MAX];
        choice.path = realpath(value.c_str(), resolved) ? resolved : value;
        return true;
    }
    if (value.size() > 4 || value.find_first_not_of("0123456789") != std::string::npos)
        return false;
    choice.kind = DriveChoice::Position;
    choice.position = std::atoi(value.c_str());
    return true;
}

std::string OptionName(int id) {
    for (const option& o : LongOptions)
        if (o.val == id) return std::string("--") + o.name;
    return "";
}

}  // namespace

ConsoleOptions ParseConsoleOptions(int argc, char* const argv[]) {
    ConsoleOptions result;
    UnattendedPlan& plan = result.plan;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) plan.switchText += ' ';
        plan.switchText += argv[i];
    }
    std::set<int> seen;  // the options given so far
    int actions = 0;
    bool help = false;
    auto refuse = [&](const std::string& why) {
        if (!result.refused) result.error = why;
        result.refused = true;
    };

    optind = 0;  // a fresh scan, also when called again
    opterr = 1;  // getopt_long names an unknown option or a missing value itself
    int id;
    while ((id = getopt_long(argc, argv, "hV", LongOptions, nullptr)) != -1) {
        if (id == '?') {
            refuse("");
            continue;
        }
        if (!seen.insert(id).second) refuse(OptionName(id) + " given twice");
        const std::string value = optarg ? optarg : "";
        if (optarg && value.empty()) refuse(OptionName(id) + " needs a value");
        switch (id) {
            case ListId:
                plan.action = PlanAction::List;
                ++actions;
                break;
            case CheckId:
                plan.action = PlanAction::Check;
                ++actions;
                break;
            case UpgradeId:
                plan.action = PlanAction::Upgrade;
                ++actions;
                break;
            case SaveId:
                plan.action = PlanAction::Save;
                plan.savePath = value;
                ++actions;
                break;
            case DriveId:
                if (!value.empty() && !ReadDrive(value, plan.drive))
                    refuse("--drive takes a list position (0 to 9999) or a device path: " + value);
                break;
            case BackupId:
                plan.hasBackup = true;
                plan.backupFolder = value;
                break;
            case LogId:
                plan.hasLog = true;
                plan.logPath = value;
                break;
            case ForceId:
                plan.force = true;
                break;
            case YesId:
                result.yes = true;
                break;
            case OverwriteId:
                plan.overwrite = true;
                break;
            case ReinstallId:
                plan.reinstall = true;
                break;
            case IgnorePowerId:
                plan.ignorePower = true;
                break;
            case JsonId:
                result.json = true;
                break;
            case VerifyId:
                plan.action = PlanAction::Verify;
                ++actions;
                break;
            case RestoreId:
                plan.hasRestore = true;
                plan.restorePath = value;
                break;
            case HelpId:
                help = true;
                break;
            default:
                result.version = true;
                break;
        }
    }
    if (optind < argc) refuse(std::string("unexpected argument: ") + argv[optind]);
    // Whoever asks for the help or the version gets it, whatever else is
    // wrong.
    if (help || result.version) {
        result.refused = false;
        result.error.clear();
        plan.action = help ? PlanAction::Help : plan.action;
        return result;
    }
    // --restore FILE alone writes FILE as --upgrade writes the firmware; with
    // --verify it is what the drives are compared with.
    if (plan.hasRestore && plan.action != PlanAction::Verify) {
        plan.action = PlanAction::Upgrade;
        ++actions;
    }
    const bool upgrade = plan.action == PlanAction::Upgrade;
    const bool save = plan.action == PlanAction::Save;
    const bool check = plan.action == PlanAction::Check;
    if (actions != 1)
        refuse("choose one of --list, --check, --upgrade, --restore, --verify and --save");
    if (save && plan.drive.kind == DriveChoice::All) refuse("--save needs --drive");
    if (plan.hasBackup && !upgrade) refuse("--backup goes with --upgrade or --restore");
    if (result.yes && !upgrade) refuse("--yes goes with --upgrade or --restore");
    if (plan.force && save)
        refuse("--force goes with --upgrade, --restore, --check, --verify or --list");
    if (plan.overwrite && !save) refuse("--overwrite goes with --save");
    if (plan.reinstall && !upgrade && !check)
        refuse("--reinstall goes with --upgrade, --restore or --check");
    if (plan.ignorePower && !upgrade) refuse("--ignore-power goes with --upgrade or --restore");
    if (result.json && save)
        refuse("--json goes with --list, --check, --upgrade, --restore or --verify");
    return result;
}
