// Helpers shared by the group views and the image pixel view.
#pragma once

#include "KelvoDicomDataSet.h"

// The root atom and group of a set whose container was replaced as a whole: its first group
// atom, or none.
inline void DicmViews_Rebind(QTAtomContainer container, QTAtom& root, uint16_t& group) {
    root = container ? QTFindChildByIndex(container, 0, kDicomGroupAtom, 1, nullptr) : 0;
    if (!root) return;
    QTAtomID id = 0;
    QTGetAtomTypeAndID(container, root, nullptr, &id);
    group = DicmUtils_NumberForAtomID(id);
}

// Empties a view's container and gives it a fresh, empty group atom of the view's own group.
inline void DicmViews_EmptyGroup(QTAtomContainer container, QTAtom& root, uint16_t& group, uint16_t viewGroup,
                                 int32_t& status) {
    root = 0;
    group = viewGroup;
    if (!container) return;
    status = QTRemoveChildren(container, 0);
    if (status != noErr) return;
    status = QTInsertChild(container, 0, kDicomGroupAtom, DicmUtils_AtomIDForNumber(viewGroup), 1, 0, nullptr,
                           &root);
}

// Stores a caller's node as `element` with the standard dictionary's VR; -50 for a null or
// invalid node.
inline void DicmViews_SetNode(KelvoDicomDataSet& set, uint16_t element, KelvoDicomDataNode* node,
                              int32_t& status) {
    if (!node || !node->qtObjIsValid()) {
        status = paramErr;
        return;
    }
    char vr[3] = {0, 0, 0};
    VUX::VUXDCM::VUXDicomLibrary::vrOfStdDataElement(dataElementTagRecord{set.groupID(), element}, vr);
    set.setProperty(element, vr, *node);
}
