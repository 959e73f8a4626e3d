#include "editor/EditorKeys.h"

namespace zor::editor {

int virtualKeyCode(int qtKey) {
    switch (qtKey) {
        case Qt::Key_Backspace:
            return VkBackspace;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return VkReturn;
        case Qt::Key_Insert:
            return VkInsert;
        case Qt::Key_Delete:
            return VkDelete;
        case Qt::Key_V:
            return VkV;
        case Qt::Key_Period:
        case Qt::Key_Greater:
            return VkPeriod;
        default:
            // Clear of 0..255 so no other key is taken for one of the codes above.
            return 0x10000 + qtKey;
    }
}

bool isShiftInsert(int vk, Qt::KeyboardModifiers modifiers) {
    return vk == VkInsert && (modifiers & ~Qt::KeypadModifier) == Qt::ShiftModifier;
}

bool isCtrlV(int vk, bool ctrlDown) {
    return vk == VkV && ctrlDown;
}

bool isPasteKey(int vk, Qt::KeyboardModifiers modifiers, bool ctrlDown) {
    return isShiftInsert(vk, modifiers) || isCtrlV(vk, ctrlDown);
}

bool isEditKey(int vk, Qt::KeyboardModifiers modifiers, bool ctrlDown) {
    return vk == VkBackspace || vk == VkDelete || isPasteKey(vk, modifiers, ctrlDown);
}

}  // namespace zor::editor
