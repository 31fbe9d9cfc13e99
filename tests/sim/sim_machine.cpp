// The machine a test builds: its drives and volumes, its fault rules, and
// what it recorded, for the test to inspect.
#include "sim/sim_machine.h"

#include <cstdio>
#include <cstring>
#include <list>

#include "sim/sim_state.h"

namespace sim {

using namespace detail;

// ---- the machine ----------------------------------------------------------

namespace {
std::list<Drive> drive_storage;
std::list<Volume> volume_storage;
}  // namespace

Machine::Machine() {
    if (machine != nullptr)
        abort();  // one machine at a time: the seam has one table
    machine = this;
    drive_storage.clear();
    volume_storage.clear();
    drive_list = &drive_storage;
    volume_list = &volume_storage;
    memset(static_cast<void*>(&records), 0, sizeof records);  // all-zero is the empty state
    slept_total_ms = 0;
    thread_error_mode = 0;
    windows_directory_ = u"C:\\Windows";
    // Every file a test makes lies on the Windows volume, unless it is under
    // the mount point of another.
    add_volume(u"\\\\.\\C:", {{0, 1048576, 64ull << 30}}).mount_point = u"C:\\";
    install();
}

Machine::~Machine() {
    drive_storage.clear();  // closes the drives' files
    volume_storage.clear();
    sys::restore_default_calls();
    machine = nullptr;
    drive_list = nullptr;
    volume_list = nullptr;
}

Machine* Machine::current() {
    return machine;
}

Drive& Machine::add_drive(uint32_t number) {
    remove_drive(number);
    drive_storage.emplace_back();
    Drive& d = drive_storage.back();
    d.number = number;
    return d;
}

Drive& Machine::add_stick(const StickSpec& spec) {
    Drive& d = add_drive(spec.number);
    d.descriptor =
        make_descriptor(spec.bus_type, spec.removable, spec.vendor, spec.product, spec.serial);
    d.geometry = make_geometry(spec.bytes_per_sector, spec.size_bytes);
    d.bytes_per_sector = spec.bytes_per_sector;
    d.size_bytes = spec.size_bytes;
    return d;
}

Drive& Machine::add_system_disk(uint32_t number) {
    StickSpec spec{number};
    spec.vendor = "ATA";
    spec.product = "System SSD";
    spec.serial = "SYS" + std::to_string(number);
    spec.size_bytes = 512110190592ull;
    spec.bus_type = 11;  // SATA
    spec.removable = false;
    Drive& d = add_stick(spec);
    if (Volume* v = volume(u"\\\\.\\C:"))
        v->extents = make_extents({{number, 1048576, 1ull << 36}});
    return d;
}

bool Machine::keep_in_file(Drive& drive, const std::string& path, std::string& error) {
    return drive.file.open(path, drive.size_bytes, error);
}

void Machine::remove_drive(uint32_t number) {
    drive_storage.remove_if([number](const Drive& d) { return d.number == number; });
}

Drive* Machine::drive(uint32_t number) {
    return find_drive(number);
}

Volume& Machine::add_volume(const std::u16string& path, const std::vector<Extent>& extents) {
    volume_storage.emplace_back();
    Volume& v = volume_storage.back();
    v.path = path;
    v.extents = make_extents(extents);
    return v;
}

Volume* Machine::volume(const std::u16string& path) {
    for (Volume& v : volume_storage) {
        if (v.path == path)
            return &v;
    }
    return nullptr;
}

void Machine::set_windows_directory(const std::u16string& directory) {
    windows_directory_ = directory;
}

void Machine::fail_call(const char* name, DWORD error, unsigned nth, uint32_t ioctl) {
    const int index = call_index(name);
    if (index < 0 || !CALL_FAILABLE[index])
        abort();  // a typo in a test must not pass silently
    for (FaultRule& rule : records.faults) {
        if (rule.active)
            continue;
        rule = FaultRule{true, static_cast<unsigned>(index), error, nth, 0, ioctl};
        return;
    }
    abort();
}

void Machine::clear_faults() {
    for (FaultRule& rule : records.faults)
        rule = FaultRule{};
}

unsigned Machine::uses(const char* name) const {
    const int index = call_index(name);
    if (index < 0)
        abort();
    return records.uses[index];
}

void Machine::reset_uses() {
    memset(records.uses, 0, sizeof records.uses);
}

size_t Machine::open_handle_count() const {
    size_t count = 0;
    for (const HandleRecord& r : records.handles)
        count += r.kind != Kind::none ? 1 : 0;
    return count;
}

size_t Machine::live_event_count() const {
    size_t count = 0;
    for (const HandleRecord& r : records.handles)
        count += r.kind == Kind::event ? 1 : 0;
    return count;
}

size_t Machine::held_lock_count() const {
    size_t count = 0;
    for (const HandleRecord* holder : records.lock_holders)
        count += holder != nullptr ? 1 : 0;
    return count;
}

void Machine::set_completion_order(CompletionOrder order, uint64_t seed) {
    records.order = order;
    records.random_state = seed == 0 ? 1 : seed;
}

std::vector<TransferRecord> Machine::transfers() const {
    return {records.transfers, records.transfers + records.transfer_count};
}

uint64_t Machine::now_ns() const {
    return records.clock_ns;
}

std::vector<IoctlRecord> Machine::ioctls() const {
    return {records.ioctls, records.ioctls + records.ioctl_count};
}

uint64_t Machine::slept_ms() const {
    return slept_total_ms;
}

std::vector<std::u16string> Machine::volumes_dismounted() const {
    std::vector<std::u16string> paths;
    for (size_t i = 0; i < records.dismounted_count; ++i)
        paths.push_back(records.dismounted[i]->path);
    return paths;
}

std::vector<Happening> Machine::timeline() const {
    std::vector<Happening> happenings;
    for (size_t i = 0; i < records.timeline_count; ++i) {
        const TimelineEntry& e = records.timeline[i];
        happenings.push_back({e.kind, e.drive_number, e.offset,
                              e.volume != nullptr ? e.volume->path : std::u16string()});
    }
    return happenings;
}

std::vector<EXECUTION_STATE> Machine::execution_states() const {
    std::vector<EXECUTION_STATE> flags;
    for (size_t i = 0; i < records.execution_call_count; ++i)
        flags.push_back(records.execution_calls[i].flags);
    return flags;
}

unsigned Machine::device_opens_with_error_boxes() const {
    return records.device_opens_with_error_boxes;
}

std::vector<WriteRecord> Machine::writes() const {
    return {records.writes, records.writes + records.write_count};
}

bool Machine::drive_opened_for_writing(uint32_t number) const {
    for (size_t i = 0; i < records.opened_count; ++i) {
        if (records.opened[i] == number && records.opened_for_writing[i])
            return true;
    }
    return false;
}

std::vector<uint32_t> Machine::drives_opened() const {
    return {records.opened, records.opened + records.opened_count};
}

void Machine::add_reparse_point(const std::u16string& path, DWORD tag,
                                const std::u16string& target) {
    reparse_points_.push_back({path, tag, target});
}

void Machine::after_each_name(std::function<void(Machine&, const std::u16string&)> watcher) {
    name_watcher_ = std::move(watcher);
}

void Machine::add_network_folder(const std::u16string& folder) {
    network_folders_.push_back(folder);
}

std::vector<NameUse> Machine::name_uses() const {
    // A test that asserts that a name was never used must not pass because
    // the record ran out of room.
    if (records.names_dropped) {
        fprintf(stderr, "sim: more than %zu calls named files; name_uses() cannot tell\n",
                NAME_CAPACITY);
        abort();
    }
    std::vector<NameUse> uses;
    for (size_t i = 0; i < records.name_count; ++i) {
        const NameRecord& r = records.names[i];
        uses.push_back({CALL_NAMES[r.call],
                        std::u16string(reinterpret_cast<const char16_t*>(r.path)), r.access,
                        r.share, r.disposition, r.flags});
    }
    return uses;
}

std::vector<std::string> Machine::failable_calls() {
    std::vector<std::string> names;
    for (unsigned i = 0; i < CALL_COUNT; ++i) {
        if (CALL_FAILABLE[i])
            names.emplace_back(CALL_NAMES[i]);
    }
    return names;
}

}  // namespace sim
