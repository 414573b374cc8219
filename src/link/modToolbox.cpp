#include "link/modToolbox.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/IControlType.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"
#include "link/modSDIFunctions.h"
#include "queue/MessageQueue.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"

#include <QCoreApplication>

#include <array>

namespace modToolbox {

namespace {

const QString kModule = QStringLiteral("modToolbox");

struct ItemLayout
{
    std::int16_t blocks;
    std::int16_t startStep;
    std::int16_t blockLength; // item 1: see blockLengthOfItem1()
};

constexpr std::array<ItemLayout, ItemCount> kLayout{{
    {1, 0, 2},    {8, 1, 75},    {1, 0, 72},  {1, 0, 30},  {1, 0, 72},  {4, 4, 112},  {1, 0, 183},
    {2, 16, 128}, {31, 8, 112},  {1, 0, 104}, {4, 16, 128}, {1, 0, 128}, {4, 20, 80},  {50, 5, 40},
    {1, 0, 104},  {1, 0, 72},    {1, 0, 144}, {50, 5, 60},  {50, 5, 100},
}};

// Item 1's block length for the panel type, or 0 when the type has no known layout.
std::int16_t blockLengthOfItem1(qint32 panelType)
{
    if ((panelType >= 1 && panelType <= 6) || (panelType >= 37 && panelType <= 39))
        return 75;
    if (panelType >= 49 && panelType <= 51)
        return 78;
    return 0;
}

std::int32_t &lastEventCount()
{
    static std::int32_t count = 0;
    return count;
}

AutoAnswerCall &autoAnswerCall()
{
    static AutoAnswerCall call;
    return call;
}

// The connection's AutoAnswer, through the interface it offers the link layer (which does not
// know the class).
std::int32_t callDialogAutoAnswer()
{
    QObject *connection = sessionState().connection.data();
    if (!connection)
        return 0;
    auto *answering = dynamic_cast<AutoAnswerDialog *>(connection);
    if (!answering)
        raiseError(ErrorCode::ObjectRequired, QStringLiteral("the connection offers no AutoAnswer"));
    return answering->AutoAnswer();
}

bool transferStopped()
{
    const std::shared_ptr<IControlType> transport = sessionState().currentTransport;
    return transport && (transport->AbortPending() || transport->AbortWorkInProgress());
}

// The block loop of PanelSend and PanelReceive.
std::int32_t blockLoop(const QString &procedure, std::int16_t itemNo, const std::function<void(int e, const QVector<std::int16_t> &, const QVector<std::int16_t> &, const QVector<std::int16_t> &)> &perBlock)
{
    return errors::guarded(kModule, procedure, [&] {
        QVector<std::int16_t> itemOf, startOf, blockLen, blockCount;
        GetItemMap(itemOf, startOf, blockLen, blockCount);
        for (int e = 0; e < BlockCount; ++e) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (transferStopped())
                break;
            if (itemNo == -1 || itemOf.at(e) == itemNo)
                perBlock(e, itemOf, startOf, blockLen);
        }
    });
}

} // namespace

std::optional<ItemGeometry> itemGeometry(int item, std::int32_t panelType)
{
    const std::int16_t item1Length = blockLengthOfItem1(panelType);
    if (item < 0 || item >= ItemCount || item1Length == 0)
        return std::nullopt;
    const ItemLayout &layout = kLayout[static_cast<std::size_t>(item)];
    ItemGeometry g;
    g.blocks = layout.blocks;
    g.startStep = layout.startStep;
    g.blockLength = item == 1 ? item1Length : layout.blockLength;
    g.recordSize = layout.startStep > 0 ? g.blockLength / layout.startStep : g.blockLength;
    g.records = layout.startStep > 0 ? layout.blocks * layout.startStep : 1;
    g.bytes = g.blocks * g.blockLength;
    return g;
}

void GetItemMap(QVector<std::int16_t> &ItemOf, QVector<std::int16_t> &StartOf, QVector<std::int16_t> &BlockLen,
                QVector<std::int16_t> &BlockCount)
{
    const std::shared_ptr<HostSettings> settings = sessionState().hostSettings;
    const std::int16_t item1Length = blockLengthOfItem1(settings ? settings->PanelType() : 0);
    ItemOf.clear();
    StartOf.clear();
    BlockLen.clear();
    BlockCount.clear();
    for (int item = 0; item < ItemCount; ++item) {
        const ItemLayout &layout = kLayout[static_cast<std::size_t>(item)];
        BlockCount.append(layout.blocks);
        for (int b = 0; b < layout.blocks; ++b) {
            ItemOf.append(static_cast<std::int16_t>(item));
            StartOf.append(static_cast<std::int16_t>(b * layout.startStep));
            BlockLen.append(item == 1 ? item1Length : layout.blockLength);
        }
    }
    if (item1Length == 0)
        BlockLen.clear(); // an unknown panel type has no block lengths
}

std::int16_t BlockLength(std::int16_t itemNo, std::int16_t start)
{
    QVector<std::int16_t> itemOf, startOf, blockLen, blockCount;
    GetItemMap(itemOf, startOf, blockLen, blockCount);
    for (int e = 0; e < blockLen.size(); ++e)
        if (itemOf.at(e) == itemNo && startOf.at(e) == start)
            return blockLen.at(e);
    return 0;
}

std::int32_t PanelSend(std::int16_t itemNo, const MsgOwner &owner)
{
    return blockLoop(QStringLiteral("PanelSend()"), itemNo,
                     [&](int e, const QVector<std::int16_t> &itemOf, const QVector<std::int16_t> &startOf,
                         const QVector<std::int16_t> &blockLen) {
                         if (e >= blockLen.size())
                             raiseError(ErrorCode::SubscriptOutOfRange, QStringLiteral("no block length for this panel type"));
                         const std::int16_t item = itemOf.at(e);
                         const std::int16_t start = startOf.at(e);
                         QByteArray buffer(blockLen.at(e), '\0');
                         if (const std::shared_ptr<HostPif> pif = sessionState().hostPif)
                             pif->read(buffer, pif->locate(item, start));
                         modGlobals::DebugPrint(QStringLiteral("WIB%1:%2").arg(item).arg(start));
                         const std::int32_t rc = modSDIFunctions::SDIWriteItemBlock(item, start, buffer, owner, 5, false);
                         if (rc != 0)
                             raiseError(rc);
                     });
}

std::int32_t PanelReceive(std::int16_t itemNo, const MsgOwner &owner)
{
    return blockLoop(QStringLiteral("PanelReceive()"), itemNo,
                     [&](int e, const QVector<std::int16_t> &itemOf, const QVector<std::int16_t> &startOf,
                         const QVector<std::int16_t> &) {
                         const std::int16_t item = itemOf.at(e);
                         const std::int16_t start = startOf.at(e);
                         modGlobals::DebugPrint(QStringLiteral("RIB%1:%2").arg(item).arg(start));
                         const std::int32_t rc = modSDIFunctions::SDIRequestItemBlock(item, start, owner, 5, false);
                         if (rc != 0)
                             raiseError(rc);
                     });
}

std::int32_t InsertResponse(const QByteArray &answer, std::int16_t itemNo, std::int16_t start)
{
    return errors::guarded(kModule, QStringLiteral("InsertResponse()"), [&] {
        // Address, length L, command, L - 2 data bytes, checksum.
        if (answer.size() < 4 || static_cast<std::uint8_t>(answer.at(1)) + 2 != answer.size())
            raiseError(ErrorCode::SubscriptOutOfRange, QStringLiteral("malformed item-block answer (%1 bytes)").arg(answer.size()));
        const QByteArray block = answer.mid(3, answer.size() - 4);
        // A block of another length than the map gives (a refusal, another block's answer) would
        // overwrite the host's neighbouring data: it is refused.
        QVector<std::int16_t> itemOf, startOf, blockLen, blockCount;
        GetItemMap(itemOf, startOf, blockLen, blockCount);
        for (int e = 0; e < blockLen.size(); ++e) {
            if (itemOf.at(e) == itemNo && startOf.at(e) == start) {
                if (block.size() != blockLen.at(e))
                    raiseError(ErrorCode::SubscriptOutOfRange,
                               QStringLiteral("block %1:%2 answered with %3 bytes, %4 expected").arg(itemNo).arg(start).arg(block.size()).arg(blockLen.at(e)));
                break;
            }
        }
        if (const std::shared_ptr<HostPif> pif = sessionState().hostPif)
            pif->write(block, pif->locate(itemNo, start));
    });
}

std::int32_t ProcessKeepAlive(const QByteArray &answer)
{
    return errors::guarded(kModule, QStringLiteral("ProcessKeepAlive()"), [&] {
        if (answer.size() < 16)
            return; // no event counter in it
        const std::int32_t count = static_cast<std::uint8_t>(answer.at(15)) * 256 + static_cast<std::uint8_t>(answer.at(14));
        MessageQueue *queue = sessionState().messageQueue;
        if (count == lastEventCount() || !queue || queue->IgnoreFurtherWarnings)
            return;
        lastEventCount() = count;
        if (count != 0)
            modGlobals::DisplayPanelEventForm(count);
    });
}

std::int32_t LastPanelEventCount()
{
    return lastEventCount();
}

void ResetPanelEventCount()
{
    lastEventCount() = 0;
}

void setAutoAnswerCall(AutoAnswerCall call)
{
    autoAnswerCall() = std::move(call);
}

std::int32_t ProcessPanelGoodbye(clsMessage &msg)
{
    return errors::guarded(kModule, QStringLiteral("ProcessPanelGoodbye()"), [&] {
        SessionState &state = sessionState();
        const std::shared_ptr<IControlType> transport = state.currentTransport;
        if (!transport)
            return;
        transport->ControlDisconnect(nullptr, true);
        if (transport->CallbackSet()) {
            if (!state.connection)
                return;
            const std::int32_t rc = autoAnswerCall() ? autoAnswerCall()() : callDialogAutoAnswer();
            if (rc != 0)
                raiseError(rc);
            return;
        }
        if (state.UnattendedFlag) {
            QString text;
            switch (msg.Priority()) {
            case 0: text = QStringLiteral("SUCCESS"); break;
            case 5: text = QStringLiteral("FAILURE"); break;
            case 10: text = QStringLiteral("ABORTED"); break;
            default: text = QStringLiteral("UNKNOWN"); break;
            }
            modGlobals::ZelCommEvent(3, text, modGlobals::ApplicationName);
            if (MessageQueue *queue = state.messageQueue)
                queue->Unload();
            return;
        }
        if (transport->AbortPending())
            return;
        // A connection attempt that failed before the panel was admitted is no session the
        // operator ended: the connection dialog, closing with the message queue, reports it once.
        if (!state.connectionAttempt)
            modGlobals::ZelCommEvent(3, QStringLiteral("USERDISCONNECTING"), modGlobals::ApplicationName);
        if (MessageQueue *queue = state.messageQueue)
            queue->Unload();
    });
}

} // namespace modToolbox
