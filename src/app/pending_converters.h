// The converter class of every conversion type, by the name the factory (converter_factory.cpp)
// uses. Each is the real converter of its module, in src/converters/<module>/.
#pragma once

#include "convert/converter.h"
#include "converters/ap/xvapi.h"
#include "converters/ap/xvapm.h"
#include "converters/ar/xvarm.h"
#include "converters/gl/xvcmm.h"
#include "converters/gl/xvglm.h"
#include "converters/gl/xvglt.h"
#include "converters/jc/xvjcm.h"
#include "converters/jc/xvjcs.h"
#include "converters/jc/xvjct.h"
#include "converters/pm/xvpml.h"
#include "converters/pm/xvpmp.h"
#include "converters/pm/xvpmr.h"
#include "converters/pm/xvpmv.h"
#include "converters/pm/xvpmt.h"
#include "converters/pm/xvpmz.h"
#include "converters/pr/xvprm.h"

namespace dz::app {

using xvGLM = gl::xvGLM;  // the real ones, in converters/gl
using xvGLT = gl::xvGLT;
using xvJCS = jc::xvJCS;  // the real one, in converters/jc
using xvJCM = jc::xvJCM;  // the real one, in converters/jc
using xvJCT = jc::xvJCT;  // the real one, in converters/jc
using xvCMM = gl::xvCMM;  // the real one, in converters/gl
using xvAPM = ap::xvAPM;  // the real one, in converters/ap
using xvAPI = ap::xvAPI;  // the real one, in converters/ap
using xvPRM = pr::xvPRM;  // the real one, in converters/pr
using xvPMP = pm::xvPMP;  // the real one, in converters/pm
using xvPML = pm::xvPML;  // the real one, in converters/pm
using xvPMR = pm::xvPMR;  // the real one, in converters/pm
using xvPMV = pm::xvPMV;  // the real one, in converters/pm
using xvPMZ = pm::xvPMZ;  // the real one, in converters/pm
using xvARM = ar::xvARM;  // the real one, in converters/ar

// PM transactions, new and history: the real ones, in converters/pm.
using xvPMT = pm::xvPMT;
using xvPMH = pm::xvPMH;

}  // namespace dz::app
