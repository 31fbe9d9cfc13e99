#include "cli/failure_advice.h"

#include "cli/error_words.h"
#include "cli/file_checks.h"
#include "run/path_text.h"
#include "text/number_format.h"

namespace cli {
namespace {

constexpr size_t ADVICE_CAPACITY = 1024;

// Which file of the command line a reason is about, by the words it starts
// with: the engine names the image, the target file and backup's new file so.
enum class Concerns : uint8_t { Other, Image, Target, Out };

bool starts_with(text::ByteText reason, const char* prefix) {
    size_t i = 0;
    for (; prefix[i] != 0; ++i) {
        if (i == reason.length || reason.data[i] != prefix[i])
            return false;
    }
    return true;
}

Concerns concerns(text::ByteText reason, const ToolRequest& request) {
    if (starts_with(reason, "cannot open the image "))
        return Concerns::Image;
    if (starts_with(reason, "cannot open the target file "))
        return Concerns::Target;
    if (request.command == ToolCommand::Backup &&
        (starts_with(reason, "cannot make ") || starts_with(reason, "cannot write ")))
        return Concerns::Out;
    return Concerns::Other;
}

engine::WideText path_of(Concerns about, const ToolRequest& request) {
    switch (about) {
        case Concerns::Image:
            return request.options.image_path;
        case Concerns::Target:
            return request.options.target_file;
        case Concerns::Out:
            return request.out_path;
        case Concerns::Other:
            break;
    }
    return {};
}

void advise_not_found(text::TextWriter& out, Concerns about) {
    if (about == Concerns::Target) {
        out.put(
            "a target file must exist and be at least as large as the image: make one first "
            "(truncate -s 8G stick.img on Linux, fsutil file createnew stick.img 8000000000 on "
            "Windows)");
    } else {
        out.put("no file has that name there: check the name and its folder");
    }
}

void advise_denied(text::TextWriter& out, Concerns about, const ToolRequest& request) {
    const engine::WideText path = path_of(about, request);
    if (!path.is_none() && is_folder(path)) {
        text::compose(out, run::path_text(path), " is a folder: give a file");
        return;
    }
    if (about == Concerns::Target) {
        out.put(
            "the target file is read-only, or another program or user holds it: make it writable "
            "(chmod u+w on Linux, the file's Properties on Windows) or close that program");
    } else {
        out.put(
            "Windows refused access: the file may be read-only, held by another program, or "
            "another user's");
    }
}

}  // namespace

text::ByteText next_step(text::ByteText reason, const ToolRequest& request) {
    static char advice[ADVICE_CAPACITY];
    text::TextWriter out(advice, sizeof advice);
    DWORD code = 0;
    if (!first_error_code(reason, code))
        return {advice, 0};
    const Concerns about = concerns(reason, request);
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            advise_not_found(out, about);
            break;
        case ERROR_ACCESS_DENIED:
            advise_denied(out, about, request);
            break;
        case ERROR_WRITE_PROTECT:
            out.put(
                "the file is on a read-only disk or file system: put it on a writable one, or "
                "make that writable");
            break;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            out.put("the disk is full: make room on it, or choose another disk");
            break;
        case ERROR_SHARING_VIOLATION:
            out.put("another program has the file open: close it and try again");
            break;
        default:
            break;
    }
    return {advice, out.length()};
}

}  // namespace cli
