// BaseAction: what buttons and panels run when a widget is chosen. The
// result is read as 1 accept, -1 cancel, 0 go on.
#pragma once

class BaseAction {
public:
  virtual ~BaseAction() = default;
  virtual long execute() = 0;
};
