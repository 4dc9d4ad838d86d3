#pragma once
// The numbers behind a progress bar: bounds, position, how much of the bar
// is filled and the text drawn over it. Kept apart from the drawing so the
// rules can be checked without a screen.

#include <string>

class CProgressState {
public:
    enum TextMode { TextNone = 0, TextPercent = 1 };

    // The range is the distance between the bounds, 1 when they are equal.
    // The position is clamped into the new bounds.
    void SetRange(int lower, int upper);
    // Stores the position clamped into the bounds.
    void SetPos(int position);
    // An empty format or TextNone draws no text.
    void SetTextFormat(const std::string& format, TextMode mode);

    int Lower() const { return m_nLower; }
    int Upper() const { return m_nUpper; }
    int Range() const { return m_nRange; }
    int Pos() const { return m_nPos; }

    // Share of the range covered by the position, 0 to 100.
    int Percent() const;
    // Filled pixels of a bar area barWidth pixels wide.
    int FillWidth(int barWidth) const;
    // The pixels of a client clientWidth wide that the text's bar colour covers.
    int TextFillWidth(int clientWidth) const;
    // The format with "%d" replaced by Percent() and "%%" by "%"; empty when
    // no text is drawn. Any other '%' is kept as it is: the format is text,
    // never a template for arbitrary conversions.
    std::string Text() const;

private:
    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nRange = 100;
    int m_nPos = 0;
    std::string m_strFormat;
};
