#include "run/result.h"

namespace run {
namespace {

ReportObserver report_observer = nullptr;
void* report_context = nullptr;

}  // namespace

void set_report_observer(ReportObserver observer, void* context) {
    report_observer = observer;
    report_context = context;
}

void deliver_report_line() {
    if (report_observer != nullptr) {
        report_observer(buffers.report, buffers.report_length, report_context);
    }
}

}  // namespace run
