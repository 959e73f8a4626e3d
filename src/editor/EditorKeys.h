#pragma once

#include <Qt>

// The source view's key handlers decide by the key pressed, not by the character it types (the
// key that carries "." and ">" is one key to them, with Shift or without), so they work with
// virtual-key codes, which number keys that way; the toolkit's key codes are mapped onto them
// here.
namespace zor::editor {

enum KeyCode : int {
    VkBackspace = 8,
    VkReturn = 13,
    VkInsert = 45,
    VkDelete = 46,
    VkV = 86,
    // The key that carries "." and ">" on a US layout. The toolkit names keys by the character
    // they type, so that key arrives as Key_Period without Shift and as Key_Greater with it.
    VkPeriod = 190,
};

// The code of a toolkit key; keys the handlers do not look at keep a code of their own above
// the range used here.
int virtualKeyCode(int qtKey);

// Shift+Insert: Insert with Shift as the only modifier (the keypad flag aside).
bool isShiftInsert(int vk, Qt::KeyboardModifiers modifiers);
// Ctrl+V: V while Ctrl is held down, whatever else is.
bool isCtrlV(int vk, bool ctrlDown);
// A paste from the system clipboard.
bool isPasteKey(int vk, Qt::KeyboardModifiers modifiers, bool ctrlDown);
// Backspace, Delete, Shift+Insert or Ctrl+V.
bool isEditKey(int vk, Qt::KeyboardModifiers modifiers, bool ctrlDown);

}  // namespace zor::editor
