#include "app/gui/wrapped_rows.h"

#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTreeWidget>

namespace {
// A tree measures its rows without their columns' widths: the text would be
// cut, not wrapped. Measured here at the width of its column.
class WrappingDelegate : public QStyledItemDelegate {
public:
    explicit WrappingDelegate(QTreeView *tree) : QStyledItemDelegate(tree), m_tree(tree) {}

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        QStyleOptionViewItem sized = option;
        sized.rect = QRect(0, 0, m_tree->header()->sectionSize(index.column()), 10000);
        return QStyledItemDelegate::sizeHint(sized, index);
    }

private:
    QTreeView *m_tree;
};
} // namespace

void wrapRows(QTreeWidget *tree) {
    tree->setWordWrap(true);
    tree->setUniformRowHeights(false);
    tree->setItemDelegate(new WrappingDelegate(tree));
    // The heights were measured for the former widths: measured again.
    QObject::connect(tree->header(), &QHeaderView::sectionResized, tree, [tree] { tree->doItemsLayout(); });
}
