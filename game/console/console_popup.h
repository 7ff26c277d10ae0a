#pragma once
// The short notice line over the battlefield.
