// Placeholder so that a library directory without sources still links.
