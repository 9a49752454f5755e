// Placeholder translation unit of the common services until they gain sources of their own.
