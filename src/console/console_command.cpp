#include "console/console_functions.h"
#include "console/console_lock.h"
#include "console/menu_lookup.h"
#include "host/entry_points.h"
#include "log/log.h"
#include "platform/platform.h"

#include <memory>

namespace quorvane {
namespace {

struct FreeToPlatformHeap {
    void operator()(void* block) const { platform::Free(block); }
};
using CommandRecordHolder = std::unique_ptr<host::ConsoleCommandRecord, FreeToPlatformHeap>;

} // namespace

// The function-try-block keeps every exception out of the VM's frames, which
// our unwinder cannot pass; the holders have given back the menu and then the
// lock by the time it catches.
void ExecuteCommand(host::StaticFunctionTag*, host::StringCacheRef text) try {
    if (text.text == nullptr || text.text[0] == '\0') {
        return;
    }
    ConsoleLockHolder lock(ConsoleLock);

    host::StringCacheRef* name = CreateConsoleMenuName();
    MenuHolder holder{LookUpMenu(host::MenuManagerGlobal.Read(), name)};
    if (holder.menu == nullptr) {
        WriteLog("Failed to get console pointer!");
        return;
    }

    // Without a record nothing is run; the holders still give everything back.
    CommandRecordHolder record(static_cast<host::ConsoleCommandRecord*>(
        platform::AllocateZeroed(sizeof(host::ConsoleCommandRecord))));
    if (record == nullptr) {
        return;
    }
    record->consoleMenu = holder.menu;
    record->selfLink = reinterpret_cast<std::uint8_t*>(record.get()) +
                       offsetof(host::ConsoleCommandRecord, zero28);
    record->commandText = text.text;
    host::Call(host::RunConsoleCommand, host::Word(record.get()));
} catch (...) {
}

} // namespace quorvane
