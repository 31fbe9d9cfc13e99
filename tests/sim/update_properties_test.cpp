// The request that makes Windows read the new partition table: sent to the
// stick with an OVERLAPPED and waited for after a disk run (the stick's
// handle is overlapped, and the simulated machine refuses it otherwise), and
// never sent by a dry run or a run on a target file.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/engine_run.h"
#include "engine/runs/write_stick.h"

namespace {

class UpdateProperties : public fixtures::EngineRunTest {
  protected:
    std::vector<sim::IoctlRecord> update_requests() const {
        std::vector<sim::IoctlRecord> sent;
        for (const sim::IoctlRecord& r : machine.ioctls()) {
            if (r.code == IOCTL_DISK_UPDATE_PROPERTIES)
                sent.push_back(r);
        }
        return sent;
    }
};

struct RunCase {
    const char* name;
    bool dry_run;
    bool target_file;
    bool sent;
};

TEST_F(UpdateProperties, SentWithAnOverlappedOnlyAfterADiskRun) {
    const RunCase cases[] = {
        {"disk run", false, false, true},
        {"dry run", true, false, false},
        {"target file", false, true, false},
    };
    fixtures::Bytes image_bytes(2 << 20, 0);
    for (size_t i = 0; i < image_bytes.size(); i += 4096)
        image_bytes[i] = 0x42;
    fixtures::TempFile image("update.img", image_bytes);
    fixtures::TempFile target("update-target.img", fixtures::Bytes(2 << 20, 0));
    for (const RunCase& c : cases) {
        machine.add_stick({4, "Tundra", "Flash", "RS0004", 2 << 20}).contents.assign(2 << 20, 0);
        const size_t before = update_requests().size();
        engine::WriteOptions options;
        options.image_path = image.wide();
        options.dry_run = c.dry_run;
        if (c.target_file) {
            options.target_file = target.wide();
        } else {
            options.serial = {"RS0004", 6};
        }
        ASSERT_EQ(engine::write_stick(options), engine::Result::Success)
            << c.name << ": " << fixtures::failure_text();
        const std::vector<sim::IoctlRecord> sent = update_requests();
        ASSERT_EQ(sent.size() - before, c.sent ? 1u : 0u) << c.name;
        if (!c.sent)
            continue;
        EXPECT_TRUE(sent.back().on_drive) << c.name;
        EXPECT_EQ(sent.back().drive_number, 4u) << c.name;
        EXPECT_TRUE(sent.back().overlapped) << c.name;
        EXPECT_TRUE(sent.back().waited_for) << c.name;
    }
}

}  // namespace
