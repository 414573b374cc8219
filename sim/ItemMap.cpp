#include "ItemMap.h"

namespace panelsim {

namespace {

struct ItemRow
{
    int blocks;
    int step;
    int length; // 0 = item 1, length by panel type
};

// One row per item 0 .. 18: number of blocks, start-record step, block length.
constexpr ItemRow kItems[ItemMap::ItemCount] = {
    {1, 0, 2},    {8, 1, 0},    {1, 0, 72},   {1, 0, 30},   {1, 0, 72},
    {4, 4, 112},  {1, 0, 183},  {2, 16, 128}, {31, 8, 112}, {1, 0, 104},
    {4, 16, 128}, {1, 0, 128},  {4, 20, 80},  {50, 5, 40},  {1, 0, 104},
    {1, 0, 72},   {1, 0, 144},  {50, 5, 60},  {50, 5, 100},
};

} // namespace

bool ItemMap::isKnownPanelType(int t)
{
    return (t >= 1 && t <= 6) || (t >= 37 && t <= 39) || (t >= 49 && t <= 51);
}

ItemMap::ItemMap(int panelType)
{
    const int item1Length = (panelType >= 49 && panelType <= 51) ? 78 : 75;
    for (int item = 0; item < ItemCount; ++item) {
        const ItemRow &row = kItems[item];
        const int length = row.length ? row.length : item1Length;
        for (int b = 0; b < row.blocks; ++b)
            m_blocks.append(ItemBlock{item, b * row.step, length, b * length});
    }
}

int ItemMap::blockCountOf(int item) const
{
    return (item >= 0 && item < ItemCount) ? kItems[item].blocks : 0;
}

int ItemMap::itemSize(int item) const
{
    int size = 0;
    for (const ItemBlock &b : m_blocks)
        if (b.item == item)
            size += b.length;
    return size;
}

int ItemMap::findBlock(int item, int start) const
{
    for (int i = 0; i < m_blocks.size(); ++i)
        if (m_blocks[i].item == item && m_blocks[i].start == start)
            return i;
    return -1;
}

} // namespace panelsim
