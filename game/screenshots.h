#pragma once
// Screenshots.
