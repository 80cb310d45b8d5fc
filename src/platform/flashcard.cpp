// Storage-card enumeration from the device's list of cards.
#include <cstring>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/hooks.h"
#include "platform/kernel_object.h"
#include "platform/note_prj.h"

namespace {

class CardSearch final : public KernelObject {
  public:
    explicit CardSearch(std::vector<std::u16string> cards) : cards_(std::move(cards)) {}
    bool wait(DWORD) override { return false; }
    bool next(WIN32_FIND_DATA* data) {
        if (position_ >= cards_.size()) return false;
        memset(data, 0, sizeof *data);
        data->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY;
        const std::u16string& name = cards_[position_++];
        size_t n = std::min<size_t>(name.size(), MAX_PATH - 1);
        std::copy(name.begin(), name.begin() + n, data->cFileName);
        return true;
    }

  private:
    std::vector<std::u16string> cards_;
    size_t position_ = 0;
};

}  // namespace

HANDLE FindFirstFlashCard(WIN32_FIND_DATA* data) {
    trace("FindFirstFlashCard");
    if (!data || !deviceInstalled()) return INVALID_HANDLE_VALUE;
    auto* search = new CardSearch(device().storageCards());
    if (!search->next(data)) {
        delete search;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return registerKernelObject(search);
}

BOOL FindNextFlashCard(HANDLE handle, WIN32_FIND_DATA* data) {
    KernelRef ref(handle);
    auto* search = dynamic_cast<CardSearch*>(ref.get());
    return search && data && search->next(data) ? TRUE : FALSE;
}

BOOL FindClose(HANDLE handle) {
    KernelRef ref(handle);
    if (!dynamic_cast<CardSearch*>(ref.get())) return FALSE;
    ref->release();
    return TRUE;
}
