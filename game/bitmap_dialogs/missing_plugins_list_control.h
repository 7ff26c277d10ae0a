#pragma once
// The list of plug-ins a game needs and this machine lacks.
