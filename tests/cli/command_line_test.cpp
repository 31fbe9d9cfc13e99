// The stick tool's command line into WriteOptions: what each option sets,
// the defaults, and every refusal with the message that names the option.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/tool_commands.h"
#include "cli/tool_request.h"
#include "fixtures/temp_file.h"

namespace {

using fixtures::widen;
using fixtures::WideString;

// A command line as Windows gives it: argv[0] and then the arguments.
class CommandLine {
  public:
    explicit CommandLine(const std::vector<WideString>& arguments) : texts_{widen("tundra-stick")} {
        texts_.insert(texts_.end(), arguments.begin(), arguments.end());
    }
    CommandLine(std::initializer_list<WideString> arguments)
        : CommandLine(std::vector<WideString>(arguments)) {}
    int argc() const { return static_cast<int>(texts_.size()); }
    const WCHAR* const* argv() const {
        pointers_.clear();
        for (const WideString& text : texts_)
            pointers_.push_back(text.c_str());
        return pointers_.data();
    }

  private:
    std::vector<WideString> texts_;
    mutable std::vector<const WCHAR*> pointers_;
};

CommandLine line_of(const std::vector<std::string>& arguments) {
    std::vector<WideString> wide;
    for (const std::string& a : arguments)
        wide.push_back(widen(a));
    return CommandLine(wide);
}

WideString text(engine::WideText value) {
    return WideString(value.data, value.length);
}
std::string bytes(text::ByteText value) {
    return std::string(value.data, value.length);
}

TEST(CommandLine, WriteTakesTheDesktopsDefaultsButKeepsTheDataArea) {
    const CommandLine line{widen("write"), widen("--image"), widen("new.img"), widen("--target"),
                           widen("stick.img")};
    cli::ToolRequest request;
    cli::UsageError error;
    ASSERT_TRUE(cli::parse_command_line(line.argc(), line.argv(), request, error))
        << bytes(error.view());
    const engine::WriteOptions& o = request.options;
    EXPECT_EQ(request.command, cli::ToolCommand::Write);
    EXPECT_EQ(text(o.image_path), widen("new.img"));
    EXPECT_EQ(text(o.target_file), widen("stick.img"));
    EXPECT_TRUE(o.serial.is_none());
    EXPECT_TRUE(o.required_model.is_none());
    EXPECT_TRUE(o.logs_dir.is_none());
    EXPECT_EQ(o.max_gb, 256u);
    EXPECT_EQ(o.chunk_bytes, 1048576u);
    EXPECT_EQ(o.queue_depth, 4u);
    EXPECT_TRUE(o.read_back_all);
    EXPECT_FALSE(o.fresh) << "a stick's data area stays unless --fresh";
    EXPECT_FALSE(o.has_expected_stick);
    EXPECT_FALSE(o.has_expected_sha256);
    EXPECT_FALSE(o.full || o.dry_run || o.other_machine);
    EXPECT_EQ(o.keep_guid_count, 0u);
}

TEST(CommandLine, EveryOptionOfWrite) {
    const std::string sha = "00112233445566778899AABBCCDDEEFF00112233445566778899aabbccddeeff";
    const CommandLine line = line_of({"write",
                                      "--image",
                                      "new.img",
                                      "--serial",
                                      "SN 01",
                                      "--model",
                                      "Flash",
                                      "--sha256",
                                      sha,
                                      "--keep-guid",
                                      "0FC63DAF-8483-4772-8e79-3d69d8477de4",
                                      "--keep-guid",
                                      "00000000-0000-0000-0000-000000000001",
                                      "--max-gb",
                                      "18446744073709551615",
                                      "--fresh",
                                      "--other-machine",
                                      "--full",
                                      "--dry-run",
                                      "--logs",
                                      "old logs",
                                      "--chunk-mib",
                                      "4",
                                      "--queue-depth",
                                      "8",
                                      "--no-read-back"});
    cli::ToolRequest request;
    cli::UsageError error;
    ASSERT_TRUE(cli::parse_command_line(line.argc(), line.argv(), request, error))
        << bytes(error.view());
    const engine::WriteOptions& o = request.options;
    EXPECT_EQ(bytes(o.serial), "SN 01");
    EXPECT_EQ(bytes(o.required_model), "Flash");
    ASSERT_TRUE(o.has_expected_sha256);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(o.expected_sha256[i], (i % 16) * 0x11) << i;
    ASSERT_EQ(o.keep_guid_count, 2u);
    const uint8_t stored[16] = {0xaf, 0x3d, 0xc6, 0x0f, 0x83, 0x84, 0x72, 0x47,
                                0x8e, 0x79, 0x3d, 0x69, 0xd8, 0x47, 0x7d, 0xe4};
    EXPECT_EQ(std::vector<uint8_t>(o.keep_guids[0], o.keep_guids[0] + 16),
              std::vector<uint8_t>(stored, stored + 16));
    EXPECT_EQ(o.keep_guids[1][15], 1);
    EXPECT_EQ(o.max_gb, UINT64_MAX);
    EXPECT_TRUE(o.fresh && o.other_machine && o.full && o.dry_run);
    EXPECT_FALSE(o.read_back_all);
    EXPECT_EQ(text(o.logs_dir), widen("old logs"));
    EXPECT_EQ(o.chunk_bytes, 4194304u);
    EXPECT_EQ(o.queue_depth, 8u);
}

TEST(CommandLine, OtherCommandsAndPathsInAnyLanguage) {
    // "C:\Ü日\😀.img": Latin, CJK and a character beyond the 16-bit range.
    const WideString path = {'C',    ':',    '\\', 0x00DC, 0x65E5, '\\',
                             0xD83D, 0xDE00, '.',  'i',    'm',    'g'};
    const struct {
        CommandLine line;
        cli::ToolCommand command;
    } cases[] = {
        {line_of({"list"}), cli::ToolCommand::List},
        {line_of({"--help"}), cli::ToolCommand::Help},
        {line_of({"write", "--fresh", "--help"}), cli::ToolCommand::Help},
        {CommandLine{widen("logs"), widen("--target"), path, widen("--logs"), path},
         cli::ToolCommand::Logs},
        {CommandLine{widen("backup"), widen("--target"), path, widen("--out"), path},
         cli::ToolCommand::Backup},
    };
    for (const auto& c : cases) {
        cli::ToolRequest request;
        cli::UsageError error;
        ASSERT_TRUE(cli::parse_command_line(c.line.argc(), c.line.argv(), request, error))
            << bytes(error.view());
        EXPECT_EQ(request.command, c.command);
    }
    cli::ToolRequest request;
    cli::UsageError error;
    ASSERT_TRUE(
        cli::parse_command_line(cases[4].line.argc(), cases[4].line.argv(), request, error));
    EXPECT_EQ(text(request.options.target_file), path);
    EXPECT_EQ(text(request.out_path), path);
}

TEST(CommandLine, RestoreTakesTheStickTheFileSystemAndTheLabel) {
    const WideString label = {'F', 'o', 't', 'o', 's', ' ', 'K', 0x00F6, 'l', 'n'};
    const CommandLine line{widen("restore"),
                           widen("--serial"),
                           widen("SN0001"),
                           widen("--fs"),
                           widen("exfat"),
                           widen("--label"),
                           label,
                           widen("--logs"),
                           widen("d"),
                           widen("--dry-run"),
                           widen("--model"),
                           widen("Flash"),
                           widen("--max-gb"),
                           widen("64")};
    cli::ToolRequest request;
    cli::UsageError error;
    ASSERT_TRUE(cli::parse_command_line(line.argc(), line.argv(), request, error))
        << bytes(error.view());
    EXPECT_EQ(request.command, cli::ToolCommand::Restore);
    EXPECT_EQ(request.restore.file_system, engine::FileSystemChoice::Exfat);
    EXPECT_EQ(text(request.restore.label), label);
    EXPECT_EQ(bytes(request.options.serial), "SN0001");
    EXPECT_EQ(text(request.options.logs_dir), widen("d"));
    EXPECT_TRUE(request.options.dry_run);
    EXPECT_EQ(bytes(request.options.required_model), "Flash");
    EXPECT_EQ(request.options.max_gb, 64u);
    // Without --fs and --label: the size chooses, and the default label.
    const CommandLine plain = line_of({"restore", "--target", "t", "--fs", "FAT32"});
    ASSERT_TRUE(cli::parse_command_line(plain.argc(), plain.argv(), request, error));
    EXPECT_EQ(request.restore.file_system, engine::FileSystemChoice::Fat32);
    EXPECT_TRUE(request.restore.label.is_none());
    EXPECT_FALSE(request.options.dry_run);
    const CommandLine by_size = line_of({"restore", "--target", "t"});
    ASSERT_TRUE(cli::parse_command_line(by_size.argc(), by_size.argv(), request, error));
    EXPECT_EQ(request.restore.file_system, engine::FileSystemChoice::BySize);
}

TEST(CommandLine, RefusalsNameTheOption) {
    const std::string image = "--image";
    const std::string guid = "0fc63daf-8483-4772-8e79-3d69d8477de4";
    const std::string guid_message =
        "--keep-guid takes a partition GUID of 36 characters, such as "
        "0fc63daf-8483-4772-8e79-3d69d8477de4";
    const std::string sha_message = "--sha256 takes the image's SHA-256 as 64 hexadecimal digits";
    const std::string chunk_message = "--chunk-mib takes a whole number of MiB from 1 to 4";
    const std::string depth_message = "--queue-depth takes a whole number from 1 to 8";
    std::vector<std::string> nine_guids = {"write", "--image", "a", "--target", "t"};
    for (int i = 0; i < 9; ++i) {
        nine_guids.push_back("--keep-guid");
        nine_guids.push_back(guid);
    }
    // Each writes the image onto target file t, with one thing wrong.
    const auto write_with = [](std::vector<std::string> extra) {
        std::vector<std::string> arguments = {"write", "--image", "a", "--target", "t"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    };
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{}, "which command? list, write, logs, backup or restore"},
        {{"format"},
         "unknown command format: the commands are list, write, logs, backup and restore"},
        {{"write", "--image"}, "--image needs a value"},
        {{"write", "--image", "--fresh"}, "--image needs a value"},
        {{"write", "--image", ""}, "--image needs a value"},
        {write_with({"--bogus"}), "unknown option --bogus"},
        {write_with({"--image=b"}),
         "unknown option --image=b: did you mean --image b (a space between, not =)?"},
        {write_with({"--fresh=yes"}), "unknown option --fresh=yes: --fresh takes no value"},
        {write_with({"--img"}), "unknown option --img: did you mean --image?"},
        {write_with({"--dryrun"}), "unknown option --dryrun: did you mean --dry-run?"},
        {write_with({"--serail", "S"}), "unknown option --serail: did you mean --serial?"},
        {write_with({"--dry"}), "unknown option --dry: did you mean --dry-run?"},
        {{"wirte"}, "unknown command wirte: did you mean write?"},
        {write_with({"--model", "Flash"}),
         "--model checks a stick found by --serial: a --target file has no model"},
        {{"logs", "--target", "t", "--logs", "d", "--max-gb", "64"},
         "--max-gb checks a stick found by --serial: a --target file has no such size"},
        {write_with({"extra"}), "unexpected extra: options start with --"},
        {write_with({"--image", "b"}), "--image is given twice"},
        {{"list", "--fresh"}, "list does not take --fresh"},
        {{"logs", "--target", "t", "--logs", "d", "--image", "a"}, "logs does not take --image"},
        {{"backup", "--target", "t", "--out", "o", "--logs", "d"}, "backup does not take --logs"},
        {{"write", "--target", "t"}, "which image? --image FILE"},
        {{"write", "--image", "a"},
         "which stick? --serial S (tundra-stick list shows the serial numbers), or --target FILE"},
        {write_with({"--serial", "S"}), "give --serial or --target, not both"},
        {{"logs", "--target", "t"}, "which folder? --logs DIR"},
        {{"restore", "--target", "t", "--fs", "ntfs"}, "--fs takes fat32 or exfat"},
        {{"restore", "--target", "t", "--label"}, "--label needs a value"},
        {{"restore", "--target", "t", "--image", "a"}, "restore does not take --image"},
        {{"restore", "--target", "t", "--fresh"}, "restore does not take --fresh"},
        {write_with({"--fs", "fat32"}), "write does not take --fs"},
        {{"restore"},
         "which stick? --serial S (tundra-stick list shows the serial numbers), or --target FILE"},
        {{"backup", "--serial", "S"}, "where to? --out FILE"},
        {write_with({"--keep-guid", guid.substr(1)}), guid_message},
        {write_with({"--keep-guid", guid + "0"}), guid_message},
        {write_with({"--keep-guid", "0fc63daf+8483-4772-8e79-3d69d8477de4"}), guid_message},
        {write_with({"--keep-guid", "0fc63dag-8483-4772-8e79-3d69d8477de4"}), guid_message},
        {nine_guids, "--keep-guid can be given at most 8 times"},
        {write_with({"--sha256", std::string(63, 'a')}), sha_message},
        {write_with({"--sha256", std::string(65, 'a')}), sha_message},
        {write_with({"--sha256", std::string(63, 'a') + "g"}), sha_message},
        {write_with({"--chunk-mib", "0"}), chunk_message},
        {write_with({"--chunk-mib", "5"}), chunk_message},
        {write_with({"--chunk-mib", "1.5"}), chunk_message},
        {write_with({"--chunk-mib", "18446744073709551617"}), chunk_message},
        {write_with({"--queue-depth", "0"}), depth_message},
        {write_with({"--queue-depth", "9"}), depth_message},
        {write_with({"--queue-depth", "4294967297"}), depth_message},  // 1 in 32 bits
        {write_with({"--max-gb", "18446744073709551616"}),
         "--max-gb is too large: at most 18446744073709551615"},
        {write_with({"--max-gb", "-1"}), "--max-gb takes a whole number of GB"},
        {write_with({"--max-gb", "64GB"}), "--max-gb takes a whole number of GB"},
        {{"logs", "--serial", std::string(129, 'S'), "--logs", "d"},
         "--serial takes the serial number that tundra-stick list shows: at most 128 printable "
         "ASCII characters"},
        {{"logs", "--serial", "S\xc3\x9c", "--logs", "d"},
         "--serial takes the serial number that tundra-stick list shows: at most 128 printable "
         "ASCII characters"},
        {write_with({"--model", std::string(65, 'M')}),
         "--model takes at most 64 printable ASCII characters"},
    };
    for (const auto& c : cases) {
        std::string shown;
        for (const std::string& a : c.arguments)
            shown += a.substr(0, 40) + " ";
        SCOPED_TRACE(shown);
        // Non-ASCII arguments arrive as UTF-16, as from Windows.
        std::vector<WideString> wide;
        for (const std::string& a : c.arguments) {
            WideString w;
            for (size_t i = 0; i < a.size(); ++i) {
                if (static_cast<uint8_t>(a[i]) == 0xC3) {
                    w += static_cast<WCHAR>(0xC0 + (static_cast<uint8_t>(a[++i]) & 0x3F));
                } else {
                    w += static_cast<WCHAR>(a[i]);
                }
            }
            wide.push_back(w);
        }
        const CommandLine line(wide);
        cli::ToolRequest request;
        cli::UsageError error;
        EXPECT_FALSE(cli::parse_command_line(line.argc(), line.argv(), request, error));
        EXPECT_EQ(bytes(error.view()), c.message);
    }
}

struct Captured : cli::ToolOutput {
    std::string out_text;
    std::string err_text;
    void out(text::ByteText t) override { out_text.append(t.data, t.length); }
    void err(text::ByteText t) override { err_text.append(t.data, t.length); }
};

// `tundra-stick COMMAND --help`: that command's options and an example,
// and none of another command's.
TEST(CommandLine, EachCommandHasItsOwnHelp) {
    const struct {
        const char* command;
        const char* usage;
        std::vector<const char*> has;
        std::vector<const char*> has_not;
    } cases[] = {
        {"write",
         "usage: tundra-stick write --image FILE (--serial S | --target FILE) [OPTIONS]\n",
         {"\n  --sha256 HEX", "\n  --dry-run", "\nexamples:\n  tundra-stick write --image "},
         {"--out"}},
        {"logs",
         "usage: tundra-stick logs (--serial S | --target FILE) --logs DIR\n",
         {"\n  --logs DIR", "\nexample:\n  tundra-stick logs --target "},
         {"--image", "--out"}},
        {"backup",
         "usage: tundra-stick backup (--serial S | --target FILE) --out FILE\n",
         {"\n  --out FILE", "\nexample:\n  tundra-stick backup --target "},
         {"--image", "--logs"}},
        {"list", "usage: tundra-stick list\n", {"\nexample:\n  tundra-stick list\n"}, {"--"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        for (const char* help : {"--help", "-h"}) {
            Captured shown;
            const CommandLine line = line_of({c.command, "--fresh", help});
            EXPECT_EQ(cli::run_tool(line.argc(), line.argv(), shown), cli::EXIT_DONE);
            EXPECT_EQ(shown.err_text, "");
            EXPECT_EQ(shown.out_text.rfind(c.usage, 0), 0u) << shown.out_text;
            for (const char* part : c.has)
                EXPECT_NE(shown.out_text.find(part), std::string::npos) << part;
            for (const char* part : c.has_not)
                EXPECT_EQ(shown.out_text.find(part), std::string::npos) << part;
        }
    }
}

TEST(CommandLine, TheToolAnswersUsageAndHelp) {
    Captured refused;
    const CommandLine bad = line_of({"write", "--queue-depth", "9"});
    EXPECT_EQ(cli::run_tool(bad.argc(), bad.argv(), refused), cli::EXIT_USAGE);
    EXPECT_EQ(refused.out_text, "");
    EXPECT_EQ(refused.err_text,
              "--queue-depth takes a whole number from 1 to 8\n"
              "tundra-stick --help lists the commands and their options\n");

    Captured help;
    const CommandLine asked = line_of({"--help"});
    EXPECT_EQ(cli::run_tool(asked.argc(), asked.argv(), help), cli::EXIT_DONE);
    EXPECT_EQ(help.err_text, "");
    for (const char* named : {"list",
                              "write",
                              "logs",
                              "backup",
                              "--image",
                              "--serial",
                              "--target",
                              "--model",
                              "--max-gb",
                              "--sha256",
                              "--keep-guid",
                              "--fresh",
                              "--other-machine",
                              "--full",
                              "--dry-run",
                              "--logs",
                              "--chunk-mib",
                              "--queue-depth",
                              "--no-read-back",
                              "--out"}) {
        const std::string at_line_start = std::string("\n  ") + named;
        const size_t at = help.out_text.find(at_line_start);
        ASSERT_NE(at, std::string::npos) << named;
        const char after = help.out_text[at + at_line_start.size()];
        EXPECT_TRUE(after == ' ' || after == '\n') << named;
    }
}

}  // namespace
