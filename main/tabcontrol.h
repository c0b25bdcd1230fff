#pragma once

#include <QTabBar>
#include <QTabWidget>

// A tab bar whose tabs all have one common width, set by the main window.
class TTabBar : public QTabBar
{
    Q_OBJECT

public:
    explicit TTabBar(QWidget *parent = nullptr);
    int TabWidth() const { return m_tabWidth; }
    void SetTabWidth(int width);

protected:
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override;

private:
    int m_tabWidth = 150;
};

// pcMain: the tab control whose pages are the browser's tabs.
class TTabControl : public QTabWidget
{
    Q_OBJECT

public:
    explicit TTabControl(QWidget *parent = nullptr);
    TTabBar *Bar() const { return m_bar; }

signals:
    void Resized();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    TTabBar *m_bar;
};
