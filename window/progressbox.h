#pragma once
// A progress bar as the window draws it: a sunken box holding a bar picture whose width is set in
// twips (15 to a pixel). A bar wider than its box is clipped by it.

#include <QFrame>

class ProgressBox : public QFrame {
    Q_OBJECT
public:
    explicit ProgressBox(QWidget *parent = nullptr);

    // The bar's width, in twips.
    void setBarTwips(double twips);
    // The bar picture itself, for anything that wants to look at its size.
    QWidget *bar() const { return m_bar; }

private:
    QWidget *m_bar;
};
