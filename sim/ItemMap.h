// The panel's programming data: 19 items cut into 213 transfer blocks. Blocks of an item are
// consecutive; each covers a fixed number of records (the start-record step) and has a fixed length.
// Item 1 blocks are 75 bytes on panel types 1-6 and 37-39, 78 bytes on types 49-51.
#pragma once

#include <QList>

namespace panelsim {

struct ItemBlock
{
    int item = 0;
    int start = 0;   // first record of the item covered by the block
    int length = 0;  // bytes
    int offset = 0;  // byte offset of the block within the item
};

class ItemMap
{
public:
    static constexpr int ItemCount = 19;
    static constexpr int BlockCount = 213;

    explicit ItemMap(int panelType = 1);

    // Whether the type is one of the known families (others get the 75-byte layout).
    static bool isKnownPanelType(int panelType);

    const QList<ItemBlock> &blocks() const { return m_blocks; }
    int blockCountOf(int item) const;
    int itemSize(int item) const;
    // Index into blocks() of the block (item, start), or -1.
    int findBlock(int item, int start) const;

private:
    QList<ItemBlock> m_blocks;
};

} // namespace panelsim
