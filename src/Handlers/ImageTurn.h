#pragma once

#include <memory>

// Runs that work on the same disk image take turns: the image file, its volume and the folder
// its contents are copied into belong to one run at a time. A second join started while the
// first still downloads would otherwise remove the image from under it; a second update check
// would mount a second copy of the volume beside the first.
//
// The rule: an agent provisioning run takes the agent's turn before it reads the session
// state and holds it through download, mount, copy, launch and detach; a staging run takes
// the staged update's turn once its download has ended and holds it until the detach. The two
// images never share a file, so their turns are independent. A turn is let go when its last
// holder is destroyed, on whichever thread that happens; the next run then starts afresh.
class ImageTurn {
  public:
    enum class Image { agent, stagedUpdate };

    // Shared by the steps of one run that outlive each other (a download's completion holds
    // it while the step that started the download has long returned).
    using Pass = std::shared_ptr<const ImageTurn>;

    // Blocks until no other run holds the image's turn.
    static Pass take(Image image);

    ~ImageTurn();
    ImageTurn(const ImageTurn&) = delete;
    ImageTurn& operator=(const ImageTurn&) = delete;

  private:
    explicit ImageTurn(Image image) : m_image(image) {}

    Image m_image;
};
