#pragma once
// What the page driver and the player controller need of the player window: the values of its
// boxes and the texts it shows. PlayerWindow (ui/player_window.h) implements it; tests use a
// stand-in. GUI thread only.

#include <string>

class PlayerView {
public:
    // 选择框_连播: the poll moves on to the next episode before the end.
    virtual bool continuousPlay() const = 0;
    // 编辑框_尾, the jump threshold in seconds, as typed.
    virtual std::string thresholdText() const = 0;
    virtual void setThresholdText(const std::string& text) = 0;
    // 标签_跳转: the seconds left until the jump.
    virtual void setCountdown(const std::string& text) = 0;

protected:
    ~PlayerView() = default;
};
