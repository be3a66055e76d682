#include "framework/ClassRegistry.h"

#include <deque>
#include <mutex>

namespace fw {
namespace {

struct Registry {
  std::mutex mutex;
  std::deque<ClassRecord> records;  // a deque keeps records in place as it grows
};

// Never destroyed: objects released while the process ends still point at their records.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

}  // namespace

const ClassRecord* RegisterClass(ClassRecord record) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  for (const ClassRecord& existing : r.records)
    if (existing.name == record.name) return &existing;
  r.records.push_back(std::move(record));
  return &r.records.back();
}

const ClassRecord* FindClass(const std::string& name) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  for (const ClassRecord& existing : r.records)
    if (existing.name == name) return &existing;
  return nullptr;
}

std::vector<const ClassRecord*> RegisteredClasses() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  std::vector<const ClassRecord*> out;
  for (const ClassRecord& existing : r.records) out.push_back(&existing);
  return out;
}

bool IsA(const ClassRecord* record, const ClassRecord* ancestor) {
  for (; record; record = record->super)
    if (record == ancestor) return true;
  return false;
}

}  // namespace fw
