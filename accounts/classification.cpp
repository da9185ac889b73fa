#include "accounts/classification.h"

#include "accounts/rule_file.h"
#include "frame/oxerror.h"

OxClassificationParamInterface::OxClassificationParamInterface(oxm::OxClassificationParam* param)
    : param_(param) {}

OxClassificationParamInterface::~OxClassificationParamInterface() {
  if (param_) oxm::releaseClassificationParam(param_);
}

bool OxClassificationParamInterface::GetAttributes(std::vector<Attributes>* rules) {
  if (!param_) return false;
  unsigned code = rules ? param_->read(rules) : OXMDL_ERR_CLS_NULL_ARG;
  if (code == OXMDL_ERR_NONE) return true;
  SetOxMiddleError(code);
  return false;
}

bool OxClassificationParamInterface::SetAttributes(const std::vector<Attributes>& rules) {
  if (!param_) return false;
  unsigned code = param_->write(rules);
  if (code == OXMDL_ERR_NONE) return true;
  SetOxMiddleError(code);
  return false;
}

unsigned long OxClassificationParamInterface::GetErrorInfo() const { return GetOxMiddleError(); }
