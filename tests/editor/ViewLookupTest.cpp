#include "editor/ViewLookup.h"

#include <QListWidget>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

QTreeWidgetItem* node(QTreeWidgetItem* parent, const char* text, int data) {
    auto* item = new QTreeWidgetItem(parent);
    item->setText(0, text);
    item->setData(0, Qt::UserRole, data);
    return item;
}

TEST(ViewLookup, TreeIsWalkedDepthFirstAndTheFirstMatchWins) {
    QTreeWidget tree;
    auto* a = new QTreeWidgetItem(&tree);
    a->setText(0, "a");
    a->setData(0, Qt::UserRole, 1);
    QTreeWidgetItem* deep = node(a, "x", 7);
    QTreeWidgetItem* b = node(tree.invisibleRootItem(), "x", 7);
    QTreeWidgetItem* c = node(b, "y", 8);

    EXPECT_EQ(findTreeNode(&tree, "x", QVariant()), deep);
    EXPECT_EQ(findTreeNode(&tree, QString(), 7), deep);
    EXPECT_EQ(findTreeNode(&tree, "y", 8), c);
    EXPECT_EQ(findTreeNode(&tree, "y", 7), nullptr);
    EXPECT_EQ(findTreeNode(&tree, "none", QVariant()), nullptr);
    // Neither text nor data: every node matches, so the first.
    EXPECT_EQ(findTreeNode(&tree, QString(), QVariant()), a);
    EXPECT_EQ(findTreeNode(nullptr, "x", QVariant()), nullptr);
    // A report list looks at the top level only.
    EXPECT_EQ(findListItem(&tree, "x", QVariant()), b);
}

TEST(ViewLookup, ListMatchesTextAndData) {
    QListWidget list;
    for (int i = 0; i < 3; ++i) {
        auto* item = new QListWidgetItem(i == 2 ? "same" : "item", &list);
        item->setData(Qt::UserRole, i);
    }
    EXPECT_EQ(findListItem(&list, "item", 1), list.item(1));
    EXPECT_EQ(findListItem(&list, "item", QVariant()), list.item(0));
    EXPECT_EQ(findListItem(&list, QString(), 2), list.item(2));
    EXPECT_EQ(findListItem(&list, "same", 0), nullptr);
    EXPECT_EQ(findListItem(static_cast<QListWidget*>(nullptr), "x", QVariant()), nullptr);
}

} // namespace
