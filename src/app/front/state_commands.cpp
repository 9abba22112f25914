#include "app/front/state_commands.h"

#include "core/folders.h"

namespace cli {

bool holdState(std::optional<StateLock> &lock, QTextStream &err) {
    folders::migrateFormerSupportDir(); // before the lock creates the support folder
    lock.emplace(folders::supportDir());
    if (lock->tryLock()) return true;
    err << lock->refusal() << Qt::endl;
    return false;
}

} // namespace cli
