#include <glib-unix.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "../../FolderWatch.h"
#include "../support/GLibPtr.h"
#include "../support/Owned.h"

namespace platform {

namespace {

constexpr std::uint32_t kChanges = IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                   IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

class InotifyFolderWatch final : public FolderWatch {
  public:
    InotifyFolderWatch(support::FileDescriptor descriptor, std::function<void()> changed)
        : m_descriptor(std::move(descriptor)), m_changed(std::move(changed)) {
        m_source = g_unix_fd_add(m_descriptor.get(), G_IO_IN, &onReadable, this);
    }

    // The source goes before the descriptor it watches.
    ~InotifyFolderWatch() override { m_source.remove(); }

  private:
    static gboolean onReadable(gint, GIOCondition, gpointer data) {
        auto* self = static_cast<InotifyFolderWatch*>(data);
        // The events themselves do not matter, only that one came; the owner may destroy this
        // object from the call, so nothing of it is touched afterwards.
        self->m_source.forget();
        std::function<void()> changed = std::move(self->m_changed);
        changed();
        return G_SOURCE_REMOVE;
    }

    support::FileDescriptor m_descriptor;
    std::function<void()> m_changed;
    glib::SourceId m_source;
};

}  // namespace

std::unique_ptr<FolderWatch> FolderWatch::start(const std::string& folder,
                                                std::function<void()> changed) {
    support::FileDescriptor descriptor(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!descriptor) return nullptr;
    if (::inotify_add_watch(descriptor.get(), folder.c_str(), kChanges | IN_ONLYDIR) < 0)
        return nullptr;
    return std::make_unique<InotifyFolderWatch>(std::move(descriptor), std::move(changed));
}

}  // namespace platform
