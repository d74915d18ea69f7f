// The registration records of face enrolment (FaceRec/allinone.TXT: one
// 256-byte ID record per registered person). Any content, short or torn last
// records included, must give one ID per record, each a record's text up to
// its first zero byte, and every ID read must count as registered. An ID
// registered after them must be found, whatever the length of the file.

#include <cstdlib>
#include <string>

#include "faces/faces.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr std::size_t kRecordSize = 256;

void checkIds(const std::string& records) {
    const std::vector<std::string> ids = registeredIdsIn(records);
    if (ids.size() != (records.size() + kRecordSize - 1) / kRecordSize) std::abort();
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const std::string& id = ids[i];
        if (id.size() > kRecordSize || id.find('\0') != std::string::npos) std::abort();
        if (records.compare(i * kRecordSize, id.size(), id) != 0) std::abort();
        if (!isRegisteredId(records, id)) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::quietRobot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 16 * kRecordSize) return -1;
    const std::string records(reinterpret_cast<const char*>(data), size);
    checkIds(records);
    // An ID that no record holds is not registered; appended, it is, and the
    // IDs already there stay as they were.
    const std::string fresh = "ID" + std::to_string(size) + "-not-there";
    if (records.find(fresh) == std::string::npos && isRegisteredId(records, fresh)) std::abort();
    const std::string appended = records + idRecordToAppend(records.size(), fresh);
    if (appended.size() % kRecordSize != 0 || !isRegisteredId(appended, fresh)) std::abort();
    std::vector<std::string> before = registeredIdsIn(records), after = registeredIdsIn(appended);
    if (after.size() != before.size() + 1 || after.back() != fresh) std::abort();
    after.pop_back();
    if (after != before) std::abort();
    return 0;
}
