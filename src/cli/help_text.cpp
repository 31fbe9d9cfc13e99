#include "cli/tool_commands.h"

namespace cli {

const char HELP_TEXT[] =
    "usage: tundra-stick COMMAND [OPTIONS]\n"
    "       tundra-stick COMMAND --help   (one command's options and an example)\n"
    "\n"
    "  list\n"
    "      the USB sticks that may be written, one a line: disk number, size,\n"
    "      vendor, product and serial number (needs an administrator)\n"
    "  write --image FILE (--serial S | --target FILE) [OPTIONS]\n"
    "      writes the image to the stick and reads it back; only the pieces that\n"
    "      differ are written. A stick with Tundra's data area keeps it, and only\n"
    "      its TUNDRA partition is written, unless --fresh. The stick's saved Wi-Fi\n"
    "      networks are carried over into the new image\n"
    "  logs (--serial S | --target FILE) --logs DIR\n"
    "      copies the stick's logs into DIR and writes nothing\n"
    "  backup (--serial S | --target FILE) --out FILE\n"
    "      reads the whole stick into FILE, a new file, and prints its size and\n"
    "      SHA-256\n"
    "  restore (--serial S | --target FILE) [--fs fat32|exfat] [--label NAME]\n"
    "          [--logs DIR] [--dry-run]\n"
    "      makes the stick an ordinary USB stick again: one partition over all of\n"
    "      it, FAT32 up to 32 GiB and exFAT above, the old partition tables gone;\n"
    "      writes only the new structures and reads them back\n"
    "\n"
    "  --image FILE        the image to write\n"
    "  --serial S          the stick, by the serial number that list shows\n"
    "  --target FILE       an existing file that stands in for a stick\n"
    "  --model TEXT        the stick's product name must contain TEXT\n"
    "  --max-gb N          refuse a disk that says it holds more than N GB (256)\n"
    "  --sha256 HEX        the image must have this SHA-256 (64 hex digits)\n"
    "  --keep-guid GUID    refuse a stick that has this partition (up to 8 times)\n"
    "  --fresh             write the whole image, over the stick's data area too\n"
    "  --other-machine     write a stick that boots another processor\n"
    "  --full              write every piece, without comparing first\n"
    "  --dry-run           compare and report, write nothing\n"
    "  --logs DIR          copy the stick's logs into DIR before writing\n"
    "  --chunk-mib N       size of one transfer, 1 to 4 MiB (1)\n"
    "  --queue-depth N     transfers in flight at once, 1 to 8 (4)\n"
    "  --no-read-back      do not read the whole range back after writing\n"
    "  --out FILE          backup's new file\n"
    "  --fs fat32|exfat    restore's file system, whatever the stick's size\n"
    "  --label NAME        restore's volume label (USB): FAT32 takes 11 letters,\n"
    "                      digits and spaces, exFAT 11 characters\n"
    "  --help              this text\n"
    "\n"
    "--model and --max-gb go with --serial, in write, logs, backup and restore;\n"
    "with --target they are refused, since a file has no model and no size of\n"
    "its own to check. restore also takes --logs (copied first) and --dry-run.\n"
    "A target file is an existing file that stands in for a stick: it is never\n"
    "made or grown (make one with truncate -s 8G stick.img, or fsutil file\n"
    "createnew stick.img 8000000000 on Windows).\n"
    "Exit codes: 0 done, 1 the run failed, 2 the command line was refused.\n";

namespace {

const char LIST_HELP[] =
    "usage: tundra-stick list\n"
    "\n"
    "Lists the USB sticks that may be written, one a line: disk number, vendor,\n"
    "product, serial number and size. Needs an administrator (a command prompt\n"
    "opened with \"Run as administrator\"). Takes no options.\n"
    "\n"
    "example:\n"
    "  tundra-stick list\n";

const char WRITE_HELP[] =
    "usage: tundra-stick write --image FILE (--serial S | --target FILE) [OPTIONS]\n"
    "\n"
    "Writes the image to the stick, only the pieces that differ, then reads it\n"
    "back. A stick that has Tundra's data area keeps it, and only its TUNDRA\n"
    "partition is written, unless --fresh. Before writing, one line says which.\n"
    "\n"
    "  --image FILE        the image to write\n"
    "  --serial S          the stick, by the serial number that list shows\n"
    "  --target FILE       an existing file that stands in for a stick, at least\n"
    "                      as large as the image (truncate -s 8G stick.img)\n"
    "  --sha256 HEX        the image must have this SHA-256 (64 hex digits);\n"
    "                      nothing is written when it has another\n"
    "  --model TEXT        with --serial: the stick's product name must contain TEXT\n"
    "  --max-gb N          with --serial: refuse a disk that says it holds more\n"
    "                      than N GB (256)\n"
    "  --keep-guid GUID    refuse a stick that has this partition (up to 8 times)\n"
    "  --fresh             write the whole image, over the stick's data area too\n"
    "  --other-machine     write a stick that boots another processor\n"
    "  --full              write every piece, without comparing first\n"
    "  --dry-run           compare and report, write nothing\n"
    "  --logs DIR          copy the stick's logs into DIR before writing\n"
    "  --chunk-mib N       size of one transfer, 1 to 4 MiB (1)\n"
    "  --queue-depth N     transfers in flight at once, 1 to 8 (4)\n"
    "  --no-read-back      do not read the whole range back after writing\n"
    "\n"
    "examples:\n"
    "  tundra-stick write --image tundra.img --target stick.img --sha256 HEX\n"
    "  tundra-stick write --image tundra.img --serial SN0001 --dry-run\n";

const char LOGS_HELP[] =
    "usage: tundra-stick logs (--serial S | --target FILE) --logs DIR\n"
    "\n"
    "Copies the logs on the stick's TUNDRA partition (TUNDRA\\*.TXT, *.BIN,\n"
    "KLOG.OLD and TUNDRA\\LOGS) into DIR, made if missing, and writes nothing\n"
    "to the stick. Says so when there is nothing to copy.\n"
    "\n"
    "  --serial S          the stick, by the serial number that list shows\n"
    "  --target FILE       an existing file that stands in for a stick\n"
    "  --logs DIR          the folder the logs go into\n"
    "  --model TEXT        with --serial: the stick's product name must contain TEXT\n"
    "  --max-gb N          with --serial: refuse a disk that says it holds more\n"
    "                      than N GB (256)\n"
    "\n"
    "example:\n"
    "  tundra-stick logs --target stick.img --logs stick-logs\n";

const char BACKUP_HELP[] =
    "usage: tundra-stick backup (--serial S | --target FILE) --out FILE\n"
    "\n"
    "Reads the whole stick into FILE, which must not exist yet, and prints its\n"
    "size and SHA-256. A backup that stops or fails removes its partial file.\n"
    "\n"
    "  --serial S          the stick, by the serial number that list shows\n"
    "  --target FILE       an existing file that stands in for a stick\n"
    "  --out FILE          the new file, on another disk than the stick\n"
    "  --model TEXT        with --serial: the stick's product name must contain TEXT\n"
    "  --max-gb N          with --serial: refuse a disk that says it holds more\n"
    "                      than N GB (256)\n"
    "\n"
    "example:\n"
    "  tundra-stick backup --target stick.img --out stick-backup.img\n";

const char RESTORE_HELP[] =
    "usage: tundra-stick restore (--serial S | --target FILE) [--fs fat32|exfat]\n"
    "                            [--label NAME] [--logs DIR] [--dry-run]\n"
    "\n"
    "Makes the stick an ordinary USB stick again: an MBR with one partition from\n"
    "1 MiB to the end, FAT32 up to 32 GiB and exFAT above, and the old partition\n"
    "tables gone. Only the new structures are written, then read back.\n"
    "\n"
    "  --serial S          the stick, by the serial number that list shows\n"
    "  --target FILE       an existing file that stands in for a stick\n"
    "  --fs fat32|exfat    the file system, whatever the stick's size\n"
    "  --label NAME        the volume label (USB): FAT32 takes 11 letters, digits\n"
    "                      and spaces, exFAT 11 characters\n"
    "  --logs DIR          copy the stick's logs into DIR first; nothing is\n"
    "                      restored if that fails\n"
    "  --dry-run           say what would be written, write nothing\n"
    "  --model TEXT        with --serial: the stick's product name must contain TEXT\n"
    "  --max-gb N          with --serial: refuse a disk that says it holds more\n"
    "                      than N GB (256)\n"
    "\n"
    "example:\n"
    "  tundra-stick restore --target stick.img --label PHOTOS\n";

}  // namespace

const char* help_text(ToolCommand command) {
    switch (command) {
        case ToolCommand::List:
            return LIST_HELP;
        case ToolCommand::Write:
            return WRITE_HELP;
        case ToolCommand::Logs:
            return LOGS_HELP;
        case ToolCommand::Backup:
            return BACKUP_HELP;
        case ToolCommand::Restore:
            return RESTORE_HELP;
        case ToolCommand::Help:
            break;
    }
    return HELP_TEXT;
}

}  // namespace cli
