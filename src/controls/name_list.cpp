#include "controls/name_list.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>

namespace qevra::controls {

namespace {

constexpr int kRowHeight = TfsListBox::kRowHeight;

class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(kRowHeight);
        return size;
    }
};

} // namespace

TfsListBox::TfsListBox(QWidget* parent)
    : QListView(parent)
    , flat_(this)
    , standardFrameStyle_(frameStyle())
    , standardLineWidth_(lineWidth())
    , standardMidLineWidth_(midLineWidth())
{
    applyBorder();
    setItemDelegate(new RowDelegate(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::StrongFocus);
}

void TfsListBox::setModel(QAbstractItemModel* model)
{
    QListView::setModel(model);
    // Each model comes with a selection model of its own.
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (quiet_)
            return;
        changed_ = true;
        emit userSelected();
    });
}

int TfsListBox::selectedRow() const
{
    int first = -1;
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        if (first < 0 || index.row() < first)
            first = index.row();
    }
    return first;
}

void TfsListBox::selectRow(int row)
{
    quiet_ = true;
    const QModelIndex index = model() ? model()->index(row, 0) : QModelIndex();
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    scrollTo(index);
    quiet_ = false;
}

void TfsListBox::setFlatStyle(TFlatStyle style)
{
    if (!flat_.setStyle(style))
        return;
    applyBorder();
    trimHeight();
    update();
}

void TfsListBox::setIntegralHeight(bool on)
{
    integralHeight_ = on;
    trimHeight();
}

void TfsListBox::trimHeight()
{
    if (!integralHeight_)
        return;
    const int border = 2 * frameWidth();
    const int rows = std::max(1, (height() - border) / kRowHeight);
    const int trimmed = border + rows * kRowHeight;
    // The resize comes back here once and then finds nothing to trim.
    if (trimmed != height())
        resize(width(), trimmed);
}

QItemSelectionModel::SelectionFlags TfsListBox::selectionCommand(
    const QModelIndex& index, const QEvent* event) const
{
    // Nothing below the last row to select, and nothing deselects.
    if (!index.isValid())
        return QItemSelectionModel::NoUpdate;
    QItemSelectionModel::SelectionFlags command = QListView::selectionCommand(index, event);
    if (command & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
        return selectionModel()->isSelected(index) ? QItemSelectionModel::NoUpdate
                                                   : QItemSelectionModel::ClearAndSelect;
    return command;
}

void TfsListBox::applyBorder()
{
    if (flat_.style() == TFlatStyle::fsFlat) {
        // A plain box 3 pixels wide: exactly the three rings of the frame,
        // which the paint below draws over it.
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setLineWidth(3);
        setMidLineWidth(0);
    } else {
        setFrameStyle(standardFrameStyle_);
        setLineWidth(standardLineWidth_);
        setMidLineWidth(standardMidLineWidth_);
    }
}

bool TfsListBox::event(QEvent* event)
{
    // The list's own paint event draws only the border and the corner
    // between the scroll bars; the rows are painted on the viewport.
    const bool handled = QListView::event(event);
    if (event->type() == QEvent::Resize)
        trimHeight();
    if (flat_.style() != TFlatStyle::fsFlat)
        return handled;
    if (event->type() == QEvent::Paint) {
        QPainter painter(this);
        drawFlatFrame(painter, width(), height(), flat_.isHot());
    } else if (flat_.follow(event)) {
        update(flatFrameRegion(width(), height()));
    }
    return handled;
}

void TfsListBox::mousePressEvent(QMouseEvent* event)
{
    changed_ = false;
    QListView::mousePressEvent(event);
    // A press on the row already selected chooses it again; the right
    // button chooses as the left one does, before the menu opens.
    if (!changed_ && (event->button() == Qt::LeftButton || event->button() == Qt::RightButton)
        && indexAt(event->position().toPoint()).isValid())
        emit userSelected();
}

void TfsListBox::contextMenuEvent(QContextMenuEvent* event)
{
    // The platform sends this after a right press (which chose the row)
    // and for the menu key.
    event->accept();
    if (event->reason() == QContextMenuEvent::Mouse)
        emit menuRequested(event->globalPos());
    else
        requestMenuFromKeyboard();
}

void TfsListBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        event->accept();
        requestMenuFromKeyboard();
        return;
    }
    QListView::keyPressEvent(event);
}

void TfsListBox::requestMenuFromKeyboard()
{
    QModelIndex current = currentIndex();
    if (!current.isValid() && selectedRow() >= 0)
        current = model()->index(selectedRow(), 0);
    QPoint at = viewport()->rect().topLeft();
    if (current.isValid()) {
        changed_ = false;
        selectionModel()->setCurrentIndex(current, QItemSelectionModel::ClearAndSelect);
        if (!changed_)
            emit userSelected();
        scrollTo(current);
        const QRect row = visualRect(current);
        at = QPoint(row.left() + row.height(), row.bottom());
    }
    emit menuRequested(viewport()->mapToGlobal(at));
}

} // namespace qevra::controls
