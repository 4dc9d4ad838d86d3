#pragma once
// A doubly linked list of untyped pointers. The list owns its nodes, never the
// values: whoever puts a value in frees it.

#include <cstdint>

class vqCPtrList {
public:
    vqCPtrList() = default;
    ~vqCPtrList();
    vqCPtrList(const vqCPtrList&) = delete;
    vqCPtrList& operator=(const vqCPtrList&) = delete;

    void AddTail(void* value);
    void* GetHead() const { return m_head ? m_head->value : nullptr; }
    int32_t GetCount() const { return m_count; }
    // Null for a negative or too large index; the found node becomes the cursor.
    void* GetAt(int32_t index);
    // The removed value, or null; the cursor goes back to the head.
    void* RemoveAt(int32_t index);
    // The value if a node held it (the first such node is freed), else null.
    void* Remove(void* value);
    void RemoveAll();

private:
    struct Node {
        void* value;
        Node* prev;
        Node* next;
    };
    Node* NodeAt(int32_t index) const;
    void Unlink(Node* node);

    int32_t m_count = 0;
    Node* m_head = nullptr;
    Node* m_tail = nullptr;
    Node* m_cursor = nullptr;
};
