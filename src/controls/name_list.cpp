#include "controls/name_list.h"

#include "controls/accessibility.h"
#include "controls/palette.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>

namespace qevra::controls {

namespace {

constexpr int kRowHeight = TfsListBox::kRowHeight;
// The scroll bar's range once the rows beyond the first page outnumber it.
constexpr int kBarRange = 1 << 30;
// Where a row's text starts.
constexpr int kTextMargin = 3;
// How often the list scrolls by a row while a drag holds the pointer
// beyond its top or bottom.
constexpr int kDragScrollMs = 50;

using Wide = unsigned __int128;

} // namespace

TfsListBox::TfsListBox(QWidget* parent)
    : QAbstractScrollArea(parent)
    , flat_(this)
    , standardFrameStyle_(frameStyle())
    , standardLineWidth_(lineWidth())
    , standardMidLineWidth_(midLineWidth())
{
    installAccessibleFactory();
    applyBorder();
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->installEventFilter(this);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
        [this](int action) { barActionTriggered(action); });
    updateScrollBar();
}

void TfsListBox::setRows(const ListRows* rows)
{
    rows_ = rows;
    resetRows();
}

void TfsListBox::resetRows()
{
    count_ = rows_ ? rows_->count() : 0;
    top_ = 0;
    selected_ = -1;
    current_ = -1;
    pressedRow_ = -1;
    dragging_ = false;
    dragScroll_.stop();
    typed_.clear();
    updateScrollBar();
    viewport()->update();
    notifyAccessible(this, QAccessible::VisibleDataChanged);
}

void TfsListBox::rowsAppended()
{
    const std::uint64_t count = rows_ ? rows_->count() : 0;
    if (count == count_)
        return;
    count_ = count;
    // Fewer rows than before: the rows beyond the end go with their state.
    if (selected_ >= 0 && std::uint64_t(selected_) >= count_)
        selected_ = -1;
    if (current_ >= 0 && std::uint64_t(current_) >= count_)
        current_ = -1;
    top_ = std::min(top_, maxTop());
    updateScrollBar();
    viewport()->update();
    notifyAccessible(this, QAccessible::VisibleDataChanged);
}

QString TfsListBox::rowText(std::int64_t row) const
{
    if (!rows_ || row < 0 || std::uint64_t(row) >= count_)
        return {};
    return rows_->text(std::uint64_t(row));
}

void TfsListBox::selectRow(std::int64_t row)
{
    if (row < 0 || std::uint64_t(row) >= count_) {
        selected_ = -1;
        current_ = -1;
        viewport()->update();
        return;
    }
    choose(row);
}

int TfsListBox::pageRows() const
{
    return std::max(1, viewport()->height() / kRowHeight);
}

int TfsListBox::rowsInView() const
{
    const std::uint64_t below = count_ - top_;
    const int fit = (viewport()->height() + kRowHeight - 1) / kRowHeight;
    return int(std::min<std::uint64_t>(below, std::uint64_t(std::max(0, fit))));
}

std::uint64_t TfsListBox::maxTop() const
{
    const auto page = std::uint64_t(pageRows());
    return count_ > page ? count_ - page : 0;
}

void TfsListBox::setTopRow(std::uint64_t row)
{
    changeTop(row);
}

QRect TfsListBox::visualRect(std::int64_t row) const
{
    if (row < 0 || std::uint64_t(row) < top_ || std::uint64_t(row) >= top_ + rowsInView())
        return {};
    const int y = int(std::uint64_t(row) - top_) * kRowHeight;
    return QRect(0, y, viewport()->width(), kRowHeight);
}

std::int64_t TfsListBox::rowAt(QPoint point) const
{
    if (!viewport()->rect().contains(point))
        return -1;
    const std::uint64_t row = top_ + std::uint64_t(point.y() / kRowHeight);
    return row < count_ ? std::int64_t(row) : -1;
}

void TfsListBox::scrollToRow(std::int64_t row)
{
    if (row < 0 || std::uint64_t(row) >= count_)
        return;
    const auto wanted = std::uint64_t(row);
    const auto page = std::uint64_t(pageRows());
    if (wanted < top_)
        changeTop(wanted);
    else if (wanted >= top_ + page)
        changeTop(wanted - page + 1);
}

bool TfsListBox::barMapped() const
{
    return maxTop() > std::uint64_t(kBarRange);
}

// Mapped, the ends of the bar are the ends of the rows and every other
// value stands for the rows from topForBar(value) on; a top row in a value's
// rows gives that value back (the last few rows before the end give the
// value before the end), so the list moving the bar never moves its rows.
int TfsListBox::barValueFor(std::uint64_t top) const
{
    if (!barMapped())
        return int(top);
    const std::uint64_t last = maxTop();
    if (top == 0)
        return 0;
    if (top >= last)
        return kBarRange;
    const Wide scaled = Wide(top) * kBarRange;
    const Wide value = (scaled + last - 1) / last;
    return int(std::min<Wide>(value, kBarRange - 1));
}

std::uint64_t TfsListBox::topForBar(int value) const
{
    if (!barMapped())
        return std::uint64_t(std::max(0, value));
    if (value <= 0)
        return 0;
    if (value >= kBarRange)
        return maxTop();
    return std::uint64_t(Wide(value) * maxTop() / kBarRange);
}

void TfsListBox::updateScrollBar()
{
    QScrollBar* bar = verticalScrollBar();
    const int page = pageRows();
    settingBar_ = true;
    if (barMapped()) {
        const Wide step = (Wide(page) * kBarRange + maxTop() - 1) / maxTop();
        bar->setRange(0, kBarRange);
        bar->setPageStep(int(std::max<Wide>(step, 1)));
    } else {
        bar->setRange(0, int(maxTop()));
        bar->setPageStep(page);
    }
    bar->setSingleStep(1);
    bar->setValue(barValueFor(top_));
    settingBar_ = false;
}

void TfsListBox::scrollContentsBy(int, int)
{
    barValueChanged(verticalScrollBar()->value());
}

void TfsListBox::barValueChanged(int value)
{
    if (settingBar_ || value == barValueFor(top_))
        return;
    const std::uint64_t top = topForBar(value);
    if (top == top_)
        return;
    top_ = top;
    viewport()->update();
    notifyAccessible(this, QAccessible::VisibleDataChanged);
}

void TfsListBox::barActionTriggered(int action)
{
    // The bar's arrows and its trough move by one row and one page however
    // many rows a step of its value stands for.
    const std::uint64_t page = std::uint64_t(pageRows());
    std::uint64_t top = top_;
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
        top += 1;
        break;
    case QAbstractSlider::SliderSingleStepSub:
        top -= std::min<std::uint64_t>(top, 1);
        break;
    case QAbstractSlider::SliderPageStepAdd:
        top += page;
        break;
    case QAbstractSlider::SliderPageStepSub:
        top -= std::min(top, page);
        break;
    default:
        return;
    }
    changeTop(top);
    // The bar sets this position as its value once the action is done.
    verticalScrollBar()->setSliderPosition(barValueFor(top_));
}

void TfsListBox::changeTop(std::uint64_t top)
{
    top = std::min(top, maxTop());
    if (top == top_)
        return;
    top_ = top;
    settingBar_ = true;
    verticalScrollBar()->setValue(barValueFor(top_));
    settingBar_ = false;
    viewport()->update();
    notifyAccessible(this, QAccessible::VisibleDataChanged);
}

bool TfsListBox::choose(std::int64_t row)
{
    if (row < 0 || std::uint64_t(row) >= count_)
        return false;
    const bool changed = row != selected_;
    const bool moved = row != current_;
    selected_ = row;
    current_ = row;
    scrollToRow(row);
    viewport()->update();
    if (changed)
        notifyRowEvent(row, QAccessible::Selection);
    if ((changed || moved) && hasFocus())
        notifyRowEvent(row, QAccessible::Focus);
    return changed;
}

void TfsListBox::chooseAndTell(std::int64_t row)
{
    if (choose(row))
        emit userSelected();
}

void TfsListBox::notifyRowEvent(std::int64_t row, QAccessible::Event event)
{
    if (!QAccessible::isActive() || visualRect(row).isEmpty())
        return;
    QAccessibleEvent change(this, event);
    change.setChild(int(std::uint64_t(row) - top_));
    QAccessible::updateAccessibility(&change);
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
    const bool handled = QAbstractScrollArea::event(event);
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

bool TfsListBox::eventFilter(QObject* watched, QEvent* event)
{
    // The wheel over the scroll bar scrolls by rows as over the rows.
    if (watched == verticalScrollBar() && event->type() == QEvent::Wheel) {
        wheelEvent(static_cast<QWheelEvent*>(event));
        return true;
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

void TfsListBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QPalette::ColorGroup group = !isEnabled() ? QPalette::Disabled
        : isActiveWindow()                          ? QPalette::Active
                                                    : QPalette::Inactive;
    const QPalette& colours = drawingPalette(*this);
    painter.fillRect(event->rect(), colours.color(group, QPalette::Base));
    const int width = viewport()->width();
    const int first = std::max(0, event->rect().top() / kRowHeight);
    const int last = std::min(rowsInView() - 1, event->rect().bottom() / kRowHeight);
    const QFontMetrics metrics(font());
    for (int i = first; i <= last; ++i) {
        const auto row = std::int64_t(top_ + std::uint64_t(i));
        const QRect rect(0, i * kRowHeight, width, kRowHeight);
        const bool selected = row == selected_;
        if (selected)
            painter.fillRect(rect, colours.color(group, QPalette::Highlight));
        painter.setPen(colours.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        const QRect textRect = rect.adjusted(kTextMargin, 0, -kTextMargin, 0);
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
            metrics.elidedText(rows_->text(std::uint64_t(row)), Qt::ElideRight, textRect.width()));
        // The focus mark: a dotted outline in the row's text colour, which
        // stands out from the row's ground under any palette.
        if (row == current_ && hasFocus()) {
            painter.save();
            painter.setPen(QPen(painter.pen().color(), 0, Qt::DotLine));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(rect.adjusted(0, 0, -1, -1));
            painter.restore();
        }
    }
}

void TfsListBox::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    top_ = std::min(top_, maxTop());
    updateScrollBar();
}

void TfsListBox::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    const QPoint at = event->position().toPoint();
    const std::int64_t row = rowAt(at);
    pressedRow_ = row;
    dragging_ = event->button() == Qt::LeftButton && row >= 0;
    // Nothing below the last row to select, and nothing deselects.
    if (row < 0)
        return;
    const bool changed = choose(row);
    // A press on the row already selected chooses it again; the right
    // button chooses as the left one does, before the menu opens.
    if (changed || event->button() == Qt::LeftButton || event->button() == Qt::RightButton)
        emit userSelected();
}

void TfsListBox::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (!dragging_ || !(event->buttons() & Qt::LeftButton))
        return;
    dragPoint_ = event->position().toPoint();
    dragTo(dragPoint_);
}

void TfsListBox::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
        dragScroll_.stop();
    }
}

void TfsListBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click on the row just pressed does not
    // choose it again; elsewhere it is a press.
    if (rowAt(event->position().toPoint()) == pressedRow_ && pressedRow_ >= 0) {
        event->accept();
        return;
    }
    mousePressEvent(event);
}

void TfsListBox::dragTo(QPoint point)
{
    const int height = viewport()->height();
    std::int64_t row = -1;
    if (point.y() < 0 && top_ > 0) {
        row = std::int64_t(top_ - 1);
    } else if (point.y() >= height) {
        const std::uint64_t below = top_ + std::uint64_t(pageRows());
        row = below < count_ ? std::int64_t(below) : std::int64_t(count_) - 1;
    } else {
        row = rowAt(QPoint(std::clamp(point.x(), 0, viewport()->width() - 1),
            std::clamp(point.y(), 0, height - 1)));
    }
    if (point.y() < 0 || point.y() >= height)
        dragScroll_.start(kDragScrollMs, this);
    else
        dragScroll_.stop();
    if (row >= 0)
        chooseAndTell(row);
}

void TfsListBox::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != dragScroll_.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    if (!dragging_ || !(QApplication::mouseButtons() & Qt::LeftButton)) {
        dragging_ = false;
        dragScroll_.stop();
        return;
    }
    dragTo(dragPoint_);
}

void TfsListBox::wheelEvent(QWheelEvent* event)
{
    event->accept();
    const bool pages = event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier);
    const std::int64_t perNotch = pages ? pageRows() : QApplication::wheelScrollLines();
    wheelAngle_ += event->angleDelta().y();
    const int notches = wheelAngle_ / QWheelEvent::DefaultDeltasPerStep;
    wheelAngle_ -= notches * QWheelEvent::DefaultDeltasPerStep;
    if (notches == 0)
        return;
    // Up the wheel (a positive angle) brings earlier rows into view.
    const std::int64_t rows = -std::int64_t(notches) * perNotch;
    if (rows < 0)
        changeTop(top_ - std::min(top_, std::uint64_t(-rows)));
    else
        changeTop(top_ + std::uint64_t(rows));
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
    const auto last = std::int64_t(count_) - 1;
    const std::int64_t page = pageRows();
    const std::int64_t from = current_;
    std::int64_t to = -1;
    switch (event->key()) {
    case Qt::Key_Up:
        to = from < 0 ? std::int64_t(top_) : from - 1;
        break;
    case Qt::Key_Down:
        to = from < 0 ? std::int64_t(top_) : from + 1;
        break;
    case Qt::Key_PageUp:
        to = from < 0 ? std::int64_t(top_) : from - page;
        break;
    case Qt::Key_PageDown:
        to = from < 0 ? std::int64_t(top_) : from + page;
        break;
    case Qt::Key_Home:
        to = 0;
        break;
    case Qt::Key_End:
        to = last;
        break;
    case Qt::Key_Space:
    case Qt::Key_Select:
        // Chooses the current row; Ctrl deselects nothing.
        event->accept();
        if (from >= 0)
            chooseAndTell(from);
        return;
    case Qt::Key_Left:
    case Qt::Key_Right:
        event->accept();
        return;
    default: {
        const bool modified
            = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        const QString text = event->text();
        if (modified || text.isEmpty() || !text.at(0).isPrint()) {
            QAbstractScrollArea::keyPressEvent(event);
            return;
        }
        event->accept();
        typeAhead(text);
        return;
    }
    }
    event->accept();
    if (last < 0)
        return;
    chooseAndTell(std::clamp<std::int64_t>(to, 0, last));
}

void TfsListBox::typeAhead(const QString& text)
{
    if (count_ == 0)
        return;
    // Keys typed close together make one text; a new text, or one key
    // repeated, looks from the row after the current one.
    const bool fresh
        = !typedAt_.isValid() || typedAt_.elapsed() > QApplication::keyboardInputInterval();
    typedAt_.start();
    typed_ = fresh ? text : typed_ + text;
    const bool sameKey = typed_.size() > 1 && typed_.count(typed_.back()) == typed_.size();
    const QString wanted = sameKey ? QString(typed_.back()) : typed_;
    std::uint64_t row = current_ < 0 ? 0 : std::uint64_t(current_);
    if ((fresh || sameKey) && current_ >= 0)
        row = (row + 1) % count_;
    const std::uint64_t looks = std::min<std::uint64_t>(count_, kTypeAheadRows);
    for (std::uint64_t i = 0; i < looks; ++i, row = (row + 1) % count_) {
        if (rows_->text(row).startsWith(wanted, Qt::CaseInsensitive)) {
            chooseAndTell(std::int64_t(row));
            return;
        }
    }
}

void TfsListBox::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    // Tabbed into, the list gets a current row (the first in view) without
    // choosing it.
    if (current_ < 0 && count_ > 0 && event->reason() != Qt::MouseFocusReason)
        current_ = selected_ >= 0 ? selected_ : std::int64_t(top_);
    viewport()->update();
    if (current_ >= 0)
        notifyRowEvent(current_, QAccessible::Focus);
}

void TfsListBox::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void TfsListBox::requestMenuFromKeyboard()
{
    const std::int64_t row = current_ >= 0 ? current_ : selected_;
    QPoint at = viewport()->rect().topLeft();
    if (row >= 0) {
        choose(row);
        emit userSelected();
        // The handler may have changed the rows.
        const QRect rect = visualRect(row);
        if (!rect.isEmpty())
            at = QPoint(rect.left() + rect.height(), rect.bottom());
    }
    emit menuRequested(viewport()->mapToGlobal(at));
}

} // namespace qevra::controls
