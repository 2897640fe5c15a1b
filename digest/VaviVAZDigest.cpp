// Placeholder until the entity builders land.
