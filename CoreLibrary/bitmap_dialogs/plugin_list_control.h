#pragma once
// Lists of plug-ins.
