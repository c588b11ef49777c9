// The per-thread OLE initialisation, global memory, storage media, and the drop filter
// that a window's registration installs on its widget.
#include "platform/ole/ole.h"

#include "platform/ole/mime_data_object.h"
#include "platform/report.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <new>

namespace fetchora::ole {

namespace {

thread_local int initCount = 0;

} // namespace

HRESULT OleInitialize(void*) {
    return initCount++ == 0 ? com::S_OK : com::S_FALSE;
}

void OleUninitialize() {
    if (initCount > 0)
        --initCount;
}

int oleInitCount() {
    return initCount;
}

struct GlobalBlock {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
    int locks = 0;
};

HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes) {
    auto block = std::unique_ptr<GlobalBlock>(new (std::nothrow) GlobalBlock);
    if (!block)
        return nullptr;
    // A block of no bytes still has a first byte to lock.
    const std::size_t allocated = bytes == 0 ? 1 : bytes;
    block->bytes.reset((flags & GMEM_ZEROINIT) != 0 ? new (std::nothrow) char[allocated]()
                                                    : new (std::nothrow) char[allocated]);
    if (!block->bytes)
        return nullptr;
    block->size = bytes;
    return block.release();
}

void* GlobalLock(HGLOBAL memory) {
    if (memory == nullptr)
        return nullptr;
    ++memory->locks;
    return memory->bytes.get();
}

BOOL GlobalUnlock(HGLOBAL memory) {
    if (memory == nullptr || memory->locks == 0)
        return 0;
    --memory->locks;
    return memory->locks > 0 ? 1 : 0;
}

HGLOBAL GlobalFree(HGLOBAL memory) {
    delete memory;
    return nullptr;
}

std::size_t GlobalSize(HGLOBAL memory) {
    return memory == nullptr ? 0 : memory->size;
}

void ReleaseStgMedium(STGMEDIUM* medium) {
    if (medium == nullptr)
        return;
    if (medium->pUnkForRelease != nullptr)
        medium->pUnkForRelease->Release();
    else if (medium->tymed == TYMED_HGLOBAL)
        GlobalFree(medium->hGlobal);
    *medium = STGMEDIUM{};
}

namespace {

const char* const kFilterName = "fetchora-ole-drop-target";

DWORD effectsOf(Qt::DropActions actions) {
    DWORD effects = DROPEFFECT_NONE;
    if (actions.testFlag(Qt::CopyAction))
        effects |= DROPEFFECT_COPY;
    if (actions.testFlag(Qt::MoveAction))
        effects |= DROPEFFECT_MOVE;
    if (actions.testFlag(Qt::LinkAction))
        effects |= DROPEFFECT_LINK;
    return effects;
}

DWORD effectOf(Qt::DropAction action) {
    return effectsOf(Qt::DropActions(action));
}

DWORD keyStateOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    DWORD state = 0;
    if (buttons.testFlag(Qt::LeftButton))
        state |= MK_LBUTTON;
    if (buttons.testFlag(Qt::RightButton))
        state |= MK_RBUTTON;
    if (buttons.testFlag(Qt::MiddleButton))
        state |= MK_MBUTTON;
    if (modifiers.testFlag(Qt::ShiftModifier))
        state |= MK_SHIFT;
    if (modifiers.testFlag(Qt::ControlModifier))
        state |= MK_CONTROL;
    if (modifiers.testFlag(Qt::AltModifier))
        state |= MK_ALT;
    return state;
}

// Answers the drag with the effect the target left: the source's proposed action when
// the target kept it, another action the target kept, or a refusal.
void answer(QDropEvent& event, HRESULT result, DWORD effect) {
    if (com::FAILED(result) || effect == DROPEFFECT_NONE) {
        event.ignore();
        return;
    }
    if ((effect & effectOf(event.proposedAction())) != 0) {
        event.acceptProposedAction();
        return;
    }
    for (const Qt::DropAction action : {Qt::CopyAction, Qt::MoveAction, Qt::LinkAction}) {
        if ((effect & effectOf(action)) != 0 && event.possibleActions().testFlag(action)) {
            event.setDropAction(action);
            event.accept();
            return;
        }
    }
    event.ignore();
}

// The registration of one widget: passes its drag events to the target.
class DropFilter final : public QObject {
public:
    DropFilter(QWidget& window, IDropTarget& target)
        : QObject(&window), window_(&window), target_(target),
          acceptedDrops_(window.acceptDrops()) {
        setObjectName(QString::fromLatin1(kFilterName));
        window.installEventFilter(this);
        window.setAcceptDrops(true);
    }

    ~DropFilter() override {
        if (window_) {
            window_->removeEventFilter(this);
            window_->setAcceptDrops(acceptedDrops_);
        }
    }

    IDropTarget& target() const { return target_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_)
            return false;
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            guarded([&] { pass(*static_cast<QDropEvent*>(event)); });
            return true;
        case QEvent::DragLeave:
            data_.reset();
            guarded([&] { target_.DragLeave(); });
            return true;
        default:
            return false;
        }
    }

private:
    void pass(QDropEvent& event) {
        const QPoint global = window_->mapToGlobal(event.position().toPoint());
        const POINTL point{global.x(), global.y()};
        const DWORD keyState = keyStateOf(event.buttons(), event.modifiers());
        DWORD effect = effectsOf(event.possibleActions());
        HRESULT result = com::S_OK;
        switch (event.type()) {
        case QEvent::DragEnter:
            data_.reset(MimeDataObject::create(*event.mimeData()));
            result = target_.DragEnter(data_.get(), keyState, point, &effect);
            break;
        case QEvent::DragMove:
            result = target_.DragOver(keyState, point, &effect);
            break;
        default: {
            // The drag's data as it entered, unless the drop brings text of its own: an X
            // drag source may no longer answer for its data once the button is released.
            DataObjectPtr dropped(MimeDataObject::create(*event.mimeData()));
            if (dropped->hasText() || !data_)
                data_ = std::move(dropped);
            DataObjectPtr data = std::move(data_);
            result = target_.Drop(data.get(), keyState, point, &effect);
            break;
        }
        }
        answer(event, result, effect);
    }

    struct Release {
        void operator()(MimeDataObject* data) const { data->Release(); }
    };
    using DataObjectPtr = std::unique_ptr<MimeDataObject, Release>;

    // The data of the drag in progress, from its entry to its drop or leave.
    DataObjectPtr data_;
    QPointer<QWidget> window_;
    IDropTarget& target_;
    bool acceptedDrops_;
};

DropFilter* filterOf(QWidget& window) {
    return window.findChild<DropFilter*>(QString::fromLatin1(kFilterName),
                                         Qt::FindDirectChildrenOnly);
}

} // namespace

HRESULT RegisterDragDrop(HWND window, IDropTarget* target) {
    if (window == nullptr)
        return DRAGDROP_E_INVALIDHWND;
    if (target == nullptr)
        return com::E_INVALIDARG;
    if (initCount == 0)
        return com::CO_E_NOTINITIALIZED;
    if (filterOf(*window) != nullptr)
        return DRAGDROP_E_ALREADYREGISTERED;
    target->AddRef();
    new DropFilter(*window, *target);
    return com::S_OK;
}

HRESULT RevokeDragDrop(HWND window) {
    if (window == nullptr)
        return DRAGDROP_E_INVALIDHWND;
    DropFilter* filter = filterOf(*window);
    if (filter == nullptr)
        return DRAGDROP_E_NOTREGISTERED;
    IDropTarget& target = filter->target();
    delete filter;
    target.Release();
    return com::S_OK;
}

} // namespace fetchora::ole
