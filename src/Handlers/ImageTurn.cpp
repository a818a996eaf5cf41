#include "ImageTurn.h"

#include <semaphore>

namespace {

// A semaphore, not a mutex: a turn is often let go on another thread than the one that took it.
std::binary_semaphore& turnOf(ImageTurn::Image image) {
    // Used until the very end of the process, also by a completion that outlives main.
    static auto* agent = new std::binary_semaphore(1);
    static auto* stagedUpdate = new std::binary_semaphore(1);
    return image == ImageTurn::Image::agent ? *agent : *stagedUpdate;
}

}  // namespace

ImageTurn::Pass ImageTurn::take(Image image) {
    turnOf(image).acquire();
    return Pass(new ImageTurn(image));
}

ImageTurn::~ImageTurn() {
    turnOf(m_image).release();
}
