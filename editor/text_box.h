// The formula box's text and what the user does to it, as a Windows multi-line edit box
// with upper case and a length limit behaves: typing, selecting, deleting, one level of
// undo. The window system's backend draws it and turns its input into these calls.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <optional>
#include <string>

namespace editor {

constexpr size_t kBoxLimit = 1024;  // characters typing fills the formula box to, as the edit box's limit

class TextBox {
public:
    const std::string& text() const { return text_; }
    // The whole text, as setting a Windows edit box's text ignores the limit on typing
    // (the Paste button puts the clipboard in whole; the program keeps 1023 characters).
    void setText(const std::string& text) {
        text_ = text;
        caret_ = anchor_ = 0;
        firstLine = 0;
        undoText_.reset();
    }
    bool hasSelection() const { return caret_ != anchor_; }
    std::string selection() const {
        return text_.substr(std::min(caret_, anchor_), std::max(caret_, anchor_) - std::min(caret_, anchor_));
    }
    // Replaces the selection by `typed` in upper case, as far as the limit lets it in;
    // false when nothing changed.
    bool insert(const std::string& typed) {
        std::string in;
        for (char c : typed)
            if (c == '\n' || c == '\r' || (c >= 32 && c < 127) || static_cast<unsigned char>(c) >= 128)
                in += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const size_t from = std::min(caret_, anchor_), to = std::max(caret_, anchor_);
        const size_t kept = text_.size() - (to - from);
        const size_t room = kept < kBoxLimit ? kBoxLimit - kept : 0;
        in.resize(std::min(in.size(), room));
        if (in.empty() && from == to) return false;
        undoText_ = text_;
        undoCaret_ = caret_;
        text_.replace(from, to - from, in);
        caret_ = anchor_ = from + in.size();
        return true;
    }
    // Takes back the last change, and a second time the taking back, as the edit box's
    // one level of undo does; false when there is nothing to take back.
    bool undo() {
        if (!undoText_) return false;
        std::swap(*undoText_, text_);
        std::swap(undoCaret_, caret_);
        caret_ = anchor_ = std::min(caret_, text_.size());
        return true;
    }
    // Selects the word (letters and digits) or the run of other characters at `index`.
    void selectWordAt(size_t index) {
        auto isWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
        index = std::min(index, text_.size());
        if (index == text_.size() && index > 0) --index;
        if (text_.empty()) return;
        const bool word = isWord(text_[index]);
        size_t begin = index, end = index;
        while (begin > 0 && isWord(text_[begin - 1]) == word && text_[begin - 1] != '\n') --begin;
        while (end < text_.size() && isWord(text_[end]) == word && text_[end] != '\r' && text_[end] != '\n') ++end;
        anchor_ = begin;
        caret_ = end;
    }
    // A drag after a double click: the selection spans the word first selected (`begin` to
    // `end`) and the word at `index`, whole words at both ends.
    void selectWordsFrom(size_t begin, size_t end, size_t index) {
        selectWordAt(index);  // the word at `index`: from anchor_ to caret_
        const size_t wordBegin = anchor_;
        if (wordBegin < begin) {
            anchor_ = end;
            caret_ = wordBegin;
        } else {
            anchor_ = begin;
            caret_ = std::max(caret_, end);
        }
    }
    bool erase(bool forward) {
        if (!hasSelection()) {
            if (forward ? caret_ >= text_.size() : caret_ == 0) return false;
            if (forward)
                caret_ = step(caret_, +1);
            else
                anchor_ = step(caret_, -1), std::swap(caret_, anchor_);
        }
        return insert("");
    }
    void move(size_t to, bool extend) {
        caret_ = std::min(to, text_.size());
        if (!extend) anchor_ = caret_;
    }
    void selectAll() {
        anchor_ = 0;
        caret_ = text_.size();
    }
    size_t caret() const { return caret_; }
    size_t anchor() const { return anchor_; }
    // One character on, a line break of two counting as one.
    size_t step(size_t at, int direction) const {
        if (direction > 0) {
            if (at >= text_.size()) return at;
            return at + (text_.compare(at, 2, "\r\n") == 0 ? 2 : 1);
        }
        if (at == 0) return 0;
        return at - (at >= 2 && text_.compare(at - 2, 2, "\r\n") == 0 ? 2 : 1);
    }
    int firstLine = 0;  // the first line in view

private:
    std::string text_;
    size_t caret_ = 0, anchor_ = 0;
    std::optional<std::string> undoText_;
    size_t undoCaret_ = 0;
};

}  // namespace editor
